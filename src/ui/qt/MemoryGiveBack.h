#pragma once

// Giving back what a closed window freed. Main thread only.
namespace orvel::ui {

// From now on blocks of 128 KiB and more come straight from the system and go back to it when
// freed, and each arena gives back a free top larger than that. By default glibc raises both
// bounds to the largest block freed so far (up to 32 MiB): once a large settings file was read,
// every thread that read it kept megabytes it no longer used. Called first thing in main().
void returnLargeBlocksWhenFreed();
inline constexpr int kLargeBlockBytes = 128 * 1024;

// Clears the pixmap cache and returns the allocator's free pages to the system. Pages mapped
// from files (libraries, fonts) are left alone: they are the page cache's, dropping them
// returns nothing and costs page faults on the next drawing.
void giveBackMemory();
// giveBackMemory a little later, once for all the calls made meanwhile.
void giveBackMemorySoon();
inline constexpr double kGiveBackDelaySeconds = 1.0;

}  // namespace orvel::ui
