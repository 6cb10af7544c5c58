#pragma once

// Giving back what a closed window freed. Main thread only.
namespace orvel::ui {

// Clears the pixmap cache and returns the allocator's free pages to the system. Pages mapped
// from files (libraries, fonts) are left alone: they are the page cache's, dropping them
// returns nothing and costs page faults on the next drawing.
void giveBackMemory();
// giveBackMemory a little later, once for all the calls made meanwhile.
void giveBackMemorySoon();
inline constexpr double kGiveBackDelaySeconds = 1.0;

}  // namespace orvel::ui
