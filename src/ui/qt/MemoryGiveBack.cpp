#include "ui/qt/MemoryGiveBack.h"

#include <QPixmapCache>

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace orvel::ui {

namespace {

std::uintptr_t hexValue(std::string_view text) {
    std::uintptr_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return value;
}

// "Rss:     1234 kB" → 1234.
std::size_t kibField(std::string_view line, std::string_view name) {
    std::string_view rest = line.substr(name.size());
    const auto digits = rest.find_first_of("0123456789");
    std::size_t value = 0;
    if (digits != std::string_view::npos) {
        std::from_chars(rest.data() + digits, rest.data() + rest.size(), value);
    }
    return value;
}

struct LoadedObject {
    std::string path;  // empty for the program itself
    std::vector<AddressRange> readOnly;
};

int collectObject(dl_phdr_info* info, std::size_t, void* data) {
    auto& objects = *static_cast<std::vector<LoadedObject>*>(data);
    const std::string name = info->dlpi_name ? info->dlpi_name : "";
    const bool program = objects.empty() && name.empty();
    // The vDSO and anything else without a file of its own is left alone.
    if (!program && (name.empty() || name.front() != '/')) {
        return 0;
    }
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    LoadedObject object{program ? std::string() : name, {}};
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type == PT_DYNAMIC) {
            // Text relocations write into read-only segments: their pages are not the file's.
            const auto* dynamic =
                reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + segment.p_vaddr);
            for (; dynamic->d_tag != DT_NULL; ++dynamic) {
                if (dynamic->d_tag == DT_TEXTREL ||
                    (dynamic->d_tag == DT_FLAGS && (dynamic->d_un.d_val & DF_TEXTREL) != 0)) {
                    return 0;
                }
            }
        }
        if (segment.p_type != PT_LOAD || (segment.p_flags & PF_W) != 0 || segment.p_memsz == 0) {
            continue;
        }
        const std::uintptr_t start = (info->dlpi_addr + segment.p_vaddr) & ~(page - 1);
        const std::uintptr_t end =
            (info->dlpi_addr + segment.p_vaddr + segment.p_memsz + page - 1) & ~(page - 1);
        object.readOnly.push_back({start, end});
    }
    objects.push_back(std::move(object));
    return 0;
}

const Logger& log() {
    static const Logger logger("Memory");
    return logger;
}

}  // namespace

std::vector<SmapsMapping> parseSmaps(std::string_view text) {
    std::vector<SmapsMapping> mappings;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        const auto dash = line.find('-');
        const auto space = line.find(' ');
        if (dash != std::string_view::npos && space != std::string_view::npos && dash < space &&
            std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(dash),
                        [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
            // address perms offset device inode [name]
            std::string_view rest = line.substr(space);
            const bool writable = rest.size() > 2 && rest[2] == 'w';
            for (int field = 0; field < 4; ++field) {
                rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
                rest.remove_prefix(std::min(rest.find(' '), rest.size()));
            }
            rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
            mappings.push_back({hexValue(line.substr(0, dash)),
                                hexValue(line.substr(dash + 1, space - dash - 1)),
                                std::string(rest), 0, 0, writable});
        } else if (!mappings.empty() && line.rfind("Rss:", 0) == 0) {
            mappings.back().residentKiB = kibField(line, "Rss:");
        } else if (!mappings.empty() && line.rfind("Anonymous:", 0) == 0) {
            mappings.back().anonymousKiB = kibField(line, "Anonymous:");
        }
    }
    std::sort(mappings.begin(), mappings.end(),
              [](const SmapsMapping& a, const SmapsMapping& b) { return a.start < b.start; });
    return mappings;
}

CleanRanges cleanRanges(const std::vector<AddressRange>& ranges,
                        const std::vector<SmapsMapping>& mappings) {
    CleanRanges clean;
    for (const AddressRange& range : ranges) {
        if (range.end <= range.start) {
            continue;
        }
        auto it = std::upper_bound(
            mappings.begin(), mappings.end(), range.start,
            [](std::uintptr_t address, const SmapsMapping& m) { return address < m.start; });
        if (it == mappings.begin()) {
            continue;
        }
        --it;
        // Every byte covered, by mappings holding only the file's pages.
        std::uintptr_t covered = range.start;
        std::size_t resident = 0;
        bool ok = true;
        for (; it != mappings.end() && covered < range.end; ++it) {
            if (it->start > covered || it->end <= covered || it->anonymousKiB != 0) {
                ok = false;
                break;
            }
            // A mapping reaching past the range is counted whole: smaps gives no finer figure.
            resident += it->residentKiB;
            covered = it->end;
        }
        if (ok && covered >= range.end) {
            clean.ranges.push_back(range);
            clean.residentKiB += resident;
        }
    }
    return clean;
}

std::vector<SmapsMapping> ownMappings() {
    std::ifstream file("/proc/self/smaps");
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (text.empty()) {
        log().notice("/proc/self/smaps could not be read; no clean pages are dropped");
    }
    return parseSmaps(text);
}

namespace {

std::size_t dropRanges(const CleanRanges& clean, const char* what) {
    std::size_t failed = 0;
    for (const AddressRange& range : clean.ranges) {
        if (::madvise(reinterpret_cast<void*>(range.start), range.end - range.start,
                      MADV_DONTNEED) != 0) {
            ++failed;
        }
    }
    if (failed != 0) {
        log().notice(std::to_string(failed) + " " + what + " could not be dropped");
    }
    return clean.residentKiB;
}

bool endsWithNoCase(std::string_view text, std::string_view end) {
    return text.size() >= end.size() &&
           std::equal(end.begin(), end.end(), text.end() - static_cast<std::ptrdiff_t>(end.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

}  // namespace

bool isFontData(std::string_view path) {
    static constexpr std::string_view kFonts[] = {".ttf", ".ttc", ".otf",  ".otc",  ".pfb",
                                                  ".pfa", ".pcf", ".woff", ".woff2"};
    if (path.empty() || path.front() != '/') {
        return false;
    }
    const std::string_view file = path.substr(path.rfind('/') + 1);
    if (std::any_of(std::begin(kFonts), std::end(kFonts),
                    [&](std::string_view end) { return endsWithNoCase(file, end); })) {
        return true;
    }
    // fontconfig's caches: <hash>-le64.cache-<version>, in a folder named for it.
    return path.find("fontconfig/") != std::string_view::npos &&
           file.find(".cache-") != std::string_view::npos;
}

CleanRanges cleanFontRanges(const std::vector<SmapsMapping>& mappings) {
    std::vector<AddressRange> ranges;
    for (const SmapsMapping& m : mappings) {
        if (!m.writable && m.residentKiB != 0 && isFontData(m.name)) {
            ranges.push_back({m.start, m.end});
        }
    }
    return cleanRanges(ranges, mappings);
}

std::size_t dropCleanFontPages(const std::vector<SmapsMapping>& mappings) {
    return dropRanges(cleanFontRanges(mappings), "font mappings");
}

std::size_t dropCleanLibraryPages(const std::vector<SmapsMapping>& mappings) {
    std::vector<LoadedObject> objects;
    dl_iterate_phdr(collectObject, &objects);

    // A library that is pinned cannot be unmapped (and its range reused) while its pages are
    // dropped. The program and what it was linked with are never unloaded anyway.
    std::vector<void*> handles;
    std::vector<AddressRange> ranges;
    for (const LoadedObject& object : objects) {
        if (!object.path.empty()) {
            void* handle = ::dlopen(object.path.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
            if (handle == nullptr) {
                continue;
            }
            handles.push_back(handle);
        }
        ranges.insert(ranges.end(), object.readOnly.begin(), object.readOnly.end());
    }

    const std::size_t dropped = dropRanges(cleanRanges(ranges, mappings), "library segments");
    for (void* handle : handles) {
        ::dlclose(handle);
    }
    return dropped;
}

void giveBackMemory() {
    const double started = RunLoop::main().uptime();
    QPixmapCache::clear();
    const std::vector<SmapsMapping> mappings = ownMappings();
    const std::size_t dropped = dropCleanLibraryPages(mappings) + dropCleanFontPages(mappings);
    // Last, so that what the steps before freed goes back too.
    malloc_trim(0);
    if (log().isEnabled(LogLevel::Debug)) {
        char took[32];
        std::snprintf(took, sizeof took, "%.1f", (RunLoop::main().uptime() - started) * 1000);
        log().debug("gave back " + std::to_string(dropped) + " KiB of library and font pages in " +
                    took + " ms");
    }
}

void giveBackMemorySoon() {
    // One give-back for closings in a row, once what they queued (deleting widgets, a last
    // paint) has run and touched what it needs.
    static Timer pending;
    pending = RunLoop::main().after(kGiveBackDelaySeconds, [] { giveBackMemory(); });
}

}  // namespace orvel::ui
