#include "ui/qt/MemoryGiveBack.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "QtUiTest.h"

namespace orvel::ui {
namespace {

const char* const kSmaps =
    "00400000-00402000 r--p 00000000 fe:01 123  /usr/bin/orvel\n"
    "Size:                  8 kB\n"
    "Rss:                   8 kB\n"
    "Anonymous:             0 kB\n"
    "VmFlags: rd mr mw me\n"
    "00402000-00406000 r-xp 00002000 fe:01 123  /usr/bin/orvel\n"
    "Rss:                  12 kB\n"
    "Anonymous:             0 kB\n"
    "00406000-00407000 r-xp 00006000 fe:01 123  /usr/bin/orvel\n"
    "Rss:                   4 kB\n"
    "Anonymous:             4 kB\n"
    "00407000-00408000 r-xp 00007000 fe:01 123  /usr/bin/orvel\n"
    "Rss:                   4 kB\n"
    "Anonymous:             0 kB\n"
    "7f0000000000-7f0000021000 rw-p 00000000 00:00 0 \n"
    "Rss:                 132 kB\n"
    "Anonymous:           132 kB\n"
    "7ffd00000000-7ffd00021000 rw-p 00000000 00:00 0                          [stack]\n"
    "Rss:                  16 kB\n"
    "Anonymous:            16 kB\n";

TEST(MemoryGiveBackTest, SmapsGivesEachMappingItsAddressesNameAndFigures) {
    const auto mappings = parseSmaps(kSmaps);
    ASSERT_EQ(mappings.size(), 6u);
    EXPECT_EQ(mappings[0].start, 0x400000u);
    EXPECT_EQ(mappings[0].end, 0x402000u);
    EXPECT_EQ(mappings[0].name, "/usr/bin/orvel");
    EXPECT_EQ(mappings[0].residentKiB, 8u);
    EXPECT_EQ(mappings[2].anonymousKiB, 4u);
    EXPECT_EQ(mappings[4].start, 0x7f0000000000u);
    EXPECT_EQ(mappings[4].name, "") << "a mapping of nothing has no name";
    EXPECT_EQ(mappings[4].residentKiB, 132u);
    EXPECT_EQ(mappings[5].name, "[stack]");
    EXPECT_TRUE(parseSmaps("").empty());
    EXPECT_TRUE(parseSmaps("Rss: 4 kB\nnot a mapping\n").empty());
}

TEST(MemoryGiveBackTest, OnlyRangesWhollyInMappingsWithoutPrivatePagesAreClean) {
    const auto mappings = parseSmaps(kSmaps);
    struct Case {
        const char* what;
        AddressRange range;
        bool clean;
        std::size_t kib;
    };
    const Case cases[] = {
        {"inside one clean mapping", {0x400000, 0x402000}, true, 8},
        {"across two clean mappings that touch", {0x400000, 0x406000}, true, 20},
        {"part of a mapping counts it whole", {0x403000, 0x404000}, true, 12},
        {"a page copied on write", {0x406000, 0x407000}, false, 0},
        {"running into a page copied on write", {0x402000, 0x407000}, false, 0},
        {"past the end of what is mapped", {0x407000, 0x409000}, false, 0},
        {"before anything is mapped", {0x300000, 0x401000}, false, 0},
        {"anonymous memory", {0x7f0000000000, 0x7f0000001000}, false, 0},
        {"empty", {0x400000, 0x400000}, false, 0},
    };
    for (const Case& c : cases) {
        const CleanRanges clean = cleanRanges({c.range}, mappings);
        EXPECT_EQ(clean.ranges.size(), c.clean ? 1u : 0u) << c.what;
        EXPECT_EQ(clean.residentKiB, c.kib) << c.what;
    }
    const CleanRanges both = cleanRanges({{0x400000, 0x402000}, {0x407000, 0x408000}}, mappings);
    EXPECT_EQ(both.ranges.size(), 2u);
    EXPECT_EQ(both.residentKiB, 12u);
}

std::string readSmaps() {
    std::ifstream file("/proc/self/smaps");
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

const SmapsMapping* mappingAt(const std::vector<SmapsMapping>& mappings, std::uintptr_t address) {
    for (const auto& m : mappings) {
        if (m.start <= address && address < m.end) {
            return &m;
        }
    }
    return nullptr;
}

// Something in this program's own code that the test can copy on write, as a debugger's
// breakpoint does.
__attribute__((noinline)) int codeToPatch(int x) {
    return x * 3 + 1;
}

TEST(MemoryGiveBackTest, DroppingLibraryPagesKeepsTheProgramWorkingAndKeepsCopiedPages) {
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto code = reinterpret_cast<std::uintptr_t>(&codeToPatch);
    auto* patched = reinterpret_cast<volatile unsigned char*>(code);
    void* codePage = reinterpret_cast<void*>(code & ~(page - 1));
    ASSERT_EQ(::mprotect(codePage, page, PROT_READ | PROT_WRITE | PROT_EXEC), 0);
    *patched = *patched;  // the same byte: the page becomes the process's own copy
    ASSERT_EQ(::mprotect(codePage, page, PROT_READ | PROT_EXEC), 0);
    const SmapsMapping* copied = mappingAt(parseSmaps(readSmaps()), code);
    ASSERT_NE(copied, nullptr);
    ASSERT_GT(copied->anonymousKiB, 0u);

    std::ostringstream touch;  // library code and data relocated at load
    touch << "warm " << 42 << ' ' << 1.5;
    const long fileBefore = test::residentFileKiB();
    const std::size_t dropped = dropCleanLibraryPages();
    EXPECT_GT(dropped, 0u);
    EXPECT_LT(test::residentFileKiB(), fileBefore);

    std::ostringstream again;
    again << "still " << 7 << ' ' << 2.25;
    EXPECT_EQ(again.str(), "still 7 2.25") << "code and relocated tables work after the drop";
    EXPECT_EQ(codeToPatch(4), 13);
    const SmapsMapping* kept = mappingAt(parseSmaps(readSmaps()), code);
    ASSERT_NE(kept, nullptr);
    EXPECT_GT(kept->anonymousKiB, 0u) << "a page copied on write is kept";
}

}  // namespace
}  // namespace orvel::ui
