#include "ui/qt/MemoryGiveBack.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
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

TEST(MemoryGiveBackTest, OnlyFontDataMappedReadOnlyAndUntouchedCountsAsCleanFontPages) {
    struct Name {
        const char* path;
        bool font;
    };
    const Name names[] = {
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", true},
        {"/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf", true},
        {"/home/u/.local/share/fonts/Inter.OTF", true},
        {"/usr/share/fonts/X11/misc/6x13.pcf", true},
        {"/usr/share/fonts/truetype/noto/NotoSansCJK-Regular.ttc", true},
        {"/var/cache/fontconfig/6cc790b63b123a6a96ee260fcdad32a9-le64.cache-8", true},
        {"/home/u/.cache/fontconfig/e13b20fdb08344e0e664864cc2ede53d-le64.cache-7", true},
        {"/var/cache/other/x.cache-8", false},
        {"/usr/lib/x86_64-linux-gnu/libfreetype.so.6.18.3", false},
        {"/usr/share/fonts/README", false},
        {"[heap]", false},
        {"", false},
    };
    for (const Name& n : names) {
        EXPECT_EQ(isFontData(n.path), n.font) << n.path;
    }

    const std::string font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf\n";
    const std::string smaps =
        "7f0000000000-7f0000010000 r--p 00000000 fe:01 9  " + font +
        "Rss: 64 kB\nAnonymous: 0 kB\n"
        "7f0000010000-7f0000020000 rw-p 00000000 fe:01 9  " +
        font +
        "Rss: 64 kB\nAnonymous: 0 kB\n"
        "7f0000020000-7f0000030000 r--p 00000000 fe:01 9  " +
        font +
        "Rss: 64 kB\nAnonymous: 4 kB\n"
        "7f0000030000-7f0000040000 r--p 00000000 fe:01 9  " +
        font +
        "Rss: 0 kB\nAnonymous: 0 kB\n"
        "7f0000040000-7f0000050000 r--p 00000000 fe:01 7  /usr/share/icons/x.svg\n"
        "Rss: 64 kB\nAnonymous: 0 kB\n";
    const CleanRanges clean = cleanFontRanges(parseSmaps(smaps));
    ASSERT_EQ(clean.ranges.size(), 1u)
        << "not a writable mapping, one with pages of its own, nothing resident, nor a non-font";
    EXPECT_EQ(clean.ranges[0].start, 0x7f0000000000u);
    EXPECT_EQ(clean.residentKiB, 64u);
}

std::string readSmaps() {
    std::ifstream file("/proc/self/smaps");
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The mapping holding an address, as /proc says now.
std::optional<SmapsMapping> mappingAt(std::uintptr_t address) {
    for (auto& m : parseSmaps(readSmaps())) {
        if (m.start <= address && address < m.end) {
            return std::move(m);
        }
    }
    return std::nullopt;
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
    const auto copied = mappingAt(code);
    ASSERT_TRUE(copied);
    ASSERT_GT(copied->anonymousKiB, 0u);

    std::ostringstream touch;  // library code and data relocated at load
    touch << "warm " << 42 << ' ' << 1.5;
    const long fileBefore = test::residentFileKiB();
    const std::size_t dropped = dropCleanLibraryPages(ownMappings());
    EXPECT_GT(dropped, 0u);
    EXPECT_LT(test::residentFileKiB(), fileBefore);

    std::ostringstream again;
    again << "still " << 7 << ' ' << 2.25;
    EXPECT_EQ(again.str(), "still 7 2.25") << "code and relocated tables work after the drop";
    EXPECT_EQ(codeToPatch(4), 13);
    const auto kept = mappingAt(code);
    ASSERT_TRUE(kept);
    EXPECT_GT(kept->anonymousKiB, 0u) << "a page copied on write is kept";
}

TEST(MemoryGiveBackTest, AMappedFontsPagesAreDroppedAndReadAgainUnchanged) {
    const std::string path =
        ::testing::TempDir() + "orvel-give-back-" + std::to_string(::getpid()) + ".ttf";
    std::string bytes(256 * 1024, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + i / 4096);
    }
    std::ofstream(path, std::ios::binary) << bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    void* mapped = ::mmap(nullptr, bytes.size(), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    ASSERT_NE(mapped, MAP_FAILED);
    const auto* data = static_cast<const volatile char*>(mapped);
    long sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 4096) {
        sum += data[i];
    }
    const auto address = reinterpret_cast<std::uintptr_t>(mapped);
    const auto touched = mappingAt(address);
    ASSERT_TRUE(touched);
    ASSERT_GE(touched->residentKiB, 200u) << sum;

    EXPECT_GE(dropCleanFontPages(ownMappings()), touched->residentKiB);
    const auto dropped = mappingAt(address);
    ASSERT_TRUE(dropped);
    EXPECT_EQ(dropped->residentKiB, 0u);
    EXPECT_EQ(std::string(static_cast<const char*>(mapped), bytes.size()), bytes)
        << "the font reads the same afterwards";
    ::munmap(mapped, bytes.size());
    std::remove(path.c_str());
}

}  // namespace
}  // namespace orvel::ui
