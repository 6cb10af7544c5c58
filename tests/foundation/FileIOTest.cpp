#include "foundation/FileIO.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace orvel {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class FileIOTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::path(::testing::TempDir()) /
               ("orvel-fileio-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }
    fs::path root;
};

TEST_F(FileIOTest, AWrittenFileReadsBackWholeAndReplacesTheOldOne) {
    const std::string path = (root / "record.json").string();
    std::ofstream(path) << "an older and much longer content than the new one";
    const std::string bytes("new\0bytes \xC3\xA9\n", 13);

    std::string seenBeforeReplace;
    std::vector<std::string> namesBeforeReplace;
    ASSERT_TRUE(writeFileAtomically(path, bytes, [&] {
                    seenBeforeReplace = readAll(path);
                    namesBeforeReplace = namesIn(root);
                }).ok());

    EXPECT_EQ(seenBeforeReplace, "an older and much longer content than the new one")
        << "the target is only replaced once the new file is complete";
    ASSERT_EQ(namesBeforeReplace.size(), 2u);
    EXPECT_EQ(namesBeforeReplace[1].rfind("record.json.tmp-", 0), 0u) << namesBeforeReplace[1];

    auto read = readFile(path);
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(stringFromData(*read), bytes);
    EXPECT_EQ(namesIn(root), std::vector<std::string>{"record.json"}) << "no temporary is left";
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    ASSERT_TRUE(writeFileAtomically(path, Data{}).ok());
    EXPECT_EQ(readFile(path)->size(), 0u);
}

TEST_F(FileIOTest, AWriteIntoAMissingFolderCreatesIt) {
    const fs::path path = root / "a/b/c/entry.desktop";
    ASSERT_TRUE(writeFileAtomically(path.string(), "[Desktop Entry]\n").ok());
    EXPECT_EQ(readAll(path), "[Desktop Entry]\n");
    for (const fs::path& folder : {root / "a", root / "a/b", root / "a/b/c"}) {
        EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all)
            << folder;
    }
}

TEST_F(FileIOTest, ReadsThatFailSayWhyAndNeverThrow) {
    std::ofstream(root / "plain") << "x";
    fs::create_directories(root / "folder/inside");
    fs::create_symlink("loop", root / "loop");
    ASSERT_EQ(::mkfifo((root / "pipe").c_str(), 0600), 0);
    struct Case {
        const char* name;
        bool present;       // whether readFileIfPresent calls it a file that is there
        const char* words;  // in the error of either read
    };
    const Case cases[] = {
        {"missing", false, "No such file or directory"},
        {"plain/below", false, "Not a directory"},
        {"folder", true, "Is a directory"},
        {"loop", true, "Too many levels of symbolic links"},
        {"pipe", true, "not a regular file"},  // and does not wait for a writer
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = (root / c.name).string();
        Result<Data> read = Data{};
        Result<std::optional<Data>> ifPresent = std::optional<Data>{};
        ASSERT_NO_THROW(read = readFile(path));
        ASSERT_NO_THROW(ifPresent = readFileIfPresent(path));
        ASSERT_FALSE(read.ok());
        EXPECT_NE(read.error().message.find(path), std::string::npos) << read.error().message;
        EXPECT_NE(read.error().message.find(c.words), std::string::npos) << read.error().message;
        if (c.present) {
            ASSERT_FALSE(ifPresent.ok());
            EXPECT_EQ(ifPresent.error().message, read.error().message);
        } else {
            ASSERT_TRUE(ifPresent.ok());
            EXPECT_FALSE(*ifPresent);
        }
    }
    EXPECT_EQ(stringFromData(**readFileIfPresent((root / "plain").string())), "x");
}

TEST_F(FileIOTest, AReadWithALimitRefusesALargerFileAndReadsOneAtTheLimit) {
    struct Case {
        const char* name;
        std::size_t bytes;  // of the file; none for a missing one
        std::size_t limit;
        const char* tooLarge;  // the sizes in words, when refused
    };
    const Case cases[] = {
        {"empty", 0, 0, ""},
        {"at the limit", 4096, 4096, ""},
        {"under the limit", 4095, 4096, ""},
        {"one byte over", 4097, 4096, "4097 bytes, over the limit of 4 KiB"},
        {"far over", 50u << 20, 8u << 20, "50 MiB, over the limit of 8 MiB"},
        {"over a zero limit", 1, 0, "1 byte, over the limit of 0 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = (root / c.name).string();
        std::ofstream(path) << std::string(std::min<std::size_t>(c.bytes, 16), 'x');
        fs::resize_file(path, c.bytes);
        const auto read = readFile(path, c.limit);
        const auto ifPresent = readFileIfPresent(path, c.limit);
        if (*c.tooLarge == '\0') {
            ASSERT_TRUE(read.ok()) << read.error().message;
            EXPECT_EQ(read->size(), c.bytes);
            ASSERT_TRUE(ifPresent.ok() && *ifPresent);
            EXPECT_EQ((*ifPresent)->size(), c.bytes);
            continue;
        }
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().tooLarge, c.tooLarge);
        EXPECT_EQ(read.error().message,
                  "Could not read " + path + ": it is too large (" + c.tooLarge + ")");
        ASSERT_FALSE(ifPresent.ok());
        EXPECT_EQ(ifPresent.error().message, read.error().message);
    }
    const auto missing = readFileIfPresent((root / "missing").string(), 16);
    ASSERT_TRUE(missing.ok());
    EXPECT_FALSE(*missing);
    EXPECT_TRUE(readFile((root / "missing").string(), 16).error().tooLarge.empty())
        << "only the size makes a file too large";
}

TEST_F(FileIOTest, AReadWithALimitStopsAtTheLimitWhenTheFileIsLargerThanItsSizeSaid) {
    // Files under /proc give their size as 0 and hold more, as a file that grows while it is
    // read does.
    const std::string path = "/proc/self/status";
    ASSERT_EQ(fs::file_size(path), 0u);
    const auto whole = readFile(path, 1u << 20);
    ASSERT_TRUE(whole.ok()) << whole.error().message;
    ASSERT_GT(whole->size(), 64u);

    const auto cut = readFile(path, 64);
    ASSERT_FALSE(cut.ok());
    EXPECT_EQ(cut.error().tooLarge, "over the limit of 64 bytes");
}

TEST_F(FileIOTest, FailedWritesSayWhyAndLeaveWhatWasThere) {
    std::ofstream(root / "plain") << "x";
    fs::create_directories(root / "folder/inside");
    struct Case {
        const char* name;
        const char* words;
    };
    const Case cases[] = {
        {"folder", "Is a directory"},
        {"plain/below/file", "Could not create the folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto written = writeFileAtomically((root / c.name).string(), "new");
        ASSERT_FALSE(written.ok());
        EXPECT_NE(written.error().message.find(c.words), std::string::npos)
            << written.error().message;
    }
    EXPECT_EQ(namesIn(root), (std::vector<std::string>{"folder", "plain"}))
        << "no temporary is left";
    EXPECT_TRUE(fs::is_directory(root / "folder/inside"));
    EXPECT_EQ(readAll(root / "plain"), "x");
}

TEST_F(FileIOTest, MakingFoldersSucceedsWhenTheyExistAndSaysWhatIsInTheWay) {
    EXPECT_TRUE(makeDirectories((root / "x/y").string()).ok());
    EXPECT_TRUE(makeDirectories((root / "x/y").string()).ok()) << "already there";
    EXPECT_TRUE(fs::is_directory(root / "x/y"));

    std::ofstream(root / "file") << "x";
    for (const fs::path& blocked : {root / "file", root / "file/below"}) {
        const auto made = makeDirectories(blocked.string());
        ASSERT_FALSE(made.ok()) << blocked;
        EXPECT_EQ(made.error().message,
                  "Could not create the folder " + blocked.string() + ": Not a directory");
    }
}

}  // namespace
}  // namespace orvel
