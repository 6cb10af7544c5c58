#include "ui/qt/MemoryGiveBack.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "QtUiTest.h"

namespace orvel::ui {
namespace {

using MemoryGiveBackTest = test::QtUiTest;

// The KiB of a mapping resident now, from /proc/self/smaps; -1 when it is not found.
long residentKiBAt(const void* address) {
    const auto wanted = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        unsigned long start = 0, end = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &start, &end) == 2 &&
            line.find(' ') > line.find('-')) {
            inside = start <= wanted && wanted < end;
        } else if (inside && line.rfind("Rss:", 0) == 0) {
            return std::stol(line.substr(4));
        }
    }
    return -1;
}

TEST_F(MemoryGiveBackTest, LeavesLibrariesUnloadableAndMappedFilesResident) {
    void* library = ::dlopen(ORVEL_UNLOADABLE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();

    const std::string path =
        ::testing::TempDir() + "orvel-give-back-" + std::to_string(::getpid()) + ".ttf";
    const std::string bytes(256 * 1024, 'f');
    std::ofstream(path, std::ios::binary) << bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    void* font = ::mmap(nullptr, bytes.size(), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    ASSERT_NE(font, MAP_FAILED);
    long sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 4096) {
        sum += static_cast<const volatile char*>(font)[i];
    }
    const long touched = residentKiBAt(font);
    ASSERT_GE(touched, 200) << sum;

    giveBackMemory();

    EXPECT_EQ(residentKiBAt(font), touched) << "a font's pages are the page cache's, not ours";
    ::munmap(font, bytes.size());
    std::remove(path.c_str());
    ::dlclose(library);
    EXPECT_EQ(::dlopen(ORVEL_UNLOADABLE_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr)
        << "a library closed after a give-back is unloaded";
}

// This process's private (anonymous) memory in KiB.
long privateKiB() {
    std::ifstream rollup("/proc/self/smaps_rollup");
    std::string line;
    while (std::getline(rollup, line)) {
        if (line.rfind("Anonymous:", 0) == 0) {
            return std::stol(line.substr(10));
        }
    }
    return -1;
}

TEST_F(MemoryGiveBackTest, LargeBlocksGoBackToTheSystemWhenFreed) {
    returnLargeBlocksWhenFreed();
    constexpr std::size_t kSize = 8u << 20;
    const long before = privateKiB();
    // Twice: by default the first freeing raises the bounds past a block of this size, and the
    // second block then stays with the allocator.
    for (int i = 0; i < 2; ++i) {
        auto* block = static_cast<char*>(std::malloc(kSize));
        ASSERT_NE(block, nullptr);
        std::memset(block, i + 1, kSize);
        asm volatile("" : : "r"(block) : "memory");
        EXPECT_GE(privateKiB(), before + 7 * 1024) << "the block is touched";
        std::free(block);
        EXPECT_LT(privateKiB(), before + 1024) << "freed block " << i;
    }
}

}  // namespace
}  // namespace orvel::ui
