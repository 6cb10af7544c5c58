#include "platform/linux/LinuxFiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

namespace orvel {
namespace {

namespace fs = std::filesystem;

class LinuxFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = ::testing::TempDir() + "orvel-files-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string write(const std::string& name, const std::string& text) {
        const std::string path = root_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    std::string root_;
};

TEST_F(LinuxFilesTest, ListsEveryNameButTheFolderAndItsParent) {
    write("capacity", "50\n");
    write(".hidden", "");
    fs::create_directories(root_ + "/device");
    FolderNames listing = listFolder(root_);
    std::sort(listing.names.begin(), listing.names.end());
    EXPECT_TRUE(listing.opened);
    EXPECT_EQ(listing.error, 0);
    EXPECT_EQ(listing.names, (std::vector<std::string>{".hidden", "capacity", "device"}));
}

TEST_F(LinuxFilesTest, AFolderThatCannotBeOpenedSaysWhy) {
    const std::string file = write("file", "x");
    const std::pair<std::string, int> cases[] = {
        {root_ + "/missing", ENOENT},
        {file, ENOTDIR},
    };
    for (const auto& [path, error] : cases) {
        const FolderNames listing = listFolder(path);
        EXPECT_FALSE(listing.opened) << path;
        EXPECT_EQ(listing.error, error) << path;
        EXPECT_TRUE(listing.names.empty()) << path;
    }
}

TEST_F(LinuxFilesTest, LevelsAreWholeNumbersOfZeroOrMore) {
    const std::pair<std::string, std::optional<long>> cases[] = {
        {"120\n", 120}, {"0", 0},   {"7 \n", 7},   {"-1\n", {}},
        {"", {}},       {"\n", {}}, {"1.5\n", {}}, {"max\n", {}},
    };
    for (const auto& [text, level] : cases) {
        EXPECT_EQ(readSysfsLevel(write("brightness", text)), level) << '"' << text << '"';
    }
    EXPECT_EQ(readSysfsLevel(root_ + "/missing"), std::nullopt);
    EXPECT_EQ(readSysfsNumber<double>(write("energy_now", "48210000\n")), 48210000.0);
}

}  // namespace
}  // namespace orvel
