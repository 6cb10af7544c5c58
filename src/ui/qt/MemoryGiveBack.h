#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Giving back what a closed window touched. Main thread only.
namespace orvel::ui {

// One mapping of /proc/self/smaps: its addresses, what it maps (a path, "[heap]", empty for
// none), whether it may be written, and how much of it is resident and how much of that is the
// process's own (anonymous: copied on write, zero-filled).
struct SmapsMapping {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    std::string name;
    std::size_t residentKiB = 0;
    std::size_t anonymousKiB = 0;
    bool writable = false;
};

std::vector<SmapsMapping> parseSmaps(std::string_view text);
// This process's mappings; none when /proc cannot be read.
std::vector<SmapsMapping> ownMappings();

struct AddressRange {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
};

// Of the ranges given (page-aligned, sorted or not), those every byte of which lies in mappings
// with no anonymous page, with the KiB resident in them: only their pages are the file's own, so
// dropping them loses nothing. A relocation or a debugger's breakpoint in a range keeps it.
struct CleanRanges {
    std::vector<AddressRange> ranges;
    std::size_t residentKiB = 0;
};
CleanRanges cleanRanges(const std::vector<AddressRange>& ranges,
                        const std::vector<SmapsMapping>& mappings);

// Drops the clean pages of the loaded libraries' read-only segments from this process's page
// tables. They stay in the page cache, as reclaim would leave them, and a later touch maps them
// again without reading the disk. Only libraries that can no longer be unloaded are touched.
// Returns the KiB that were resident in what was dropped.
std::size_t dropCleanLibraryPages(const std::vector<SmapsMapping>& mappings);

// Whether a mapped file is a font or fontconfig's cache of them.
bool isFontData(std::string_view path);
// The read-only mappings of font data that hold none of the process's own pages.
CleanRanges cleanFontRanges(const std::vector<SmapsMapping>& mappings);
// Drops those pages as dropCleanLibraryPages does. Fonts are mapped and unmapped only by text
// drawn on the main thread, so none goes while this runs there. Returns the KiB dropped.
std::size_t dropCleanFontPages(const std::vector<SmapsMapping>& mappings);

// Everything a closed window leaves behind that can go: cached pixmaps, the libraries' and
// fonts' clean pages and the allocator's free pages.
void giveBackMemory();
// giveBackMemory a little later, once for all the calls made meanwhile.
void giveBackMemorySoon();
inline constexpr double kGiveBackDelaySeconds = 1.0;

}  // namespace orvel::ui
