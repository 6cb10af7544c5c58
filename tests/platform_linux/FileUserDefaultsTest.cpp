#include "platform/linux/FileUserDefaults.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>

#include "foundation/VirtualRunLoop.h"
#include "platform/sim/RecordingLogSink.h"
#include "support/PropertyValuePrinter.h"
#include "support/RealThings.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

class FileUserDefaultsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::path(::testing::TempDir()) /
                 ("orvel-defaults-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        RunLoop::install(std::make_unique<VirtualRunLoop>());
        previousSink = installLogSink(log);
    }
    void TearDown() override {
        installLogSink(previousSink);
        RunLoop::install(nullptr);
        fs::remove_all(folder);
    }
    fs::path file() const { return folder / "defaults.json"; }
    std::vector<fs::path> damaged() const {
        std::vector<fs::path> found;
        if (fs::exists(folder)) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                if (entry.path().filename().string().find(".damaged-") != std::string::npos) {
                    found.push_back(entry.path());
                }
            }
        }
        return found;
    }

    fs::path folder;
    std::shared_ptr<RecordingLogSink> log = std::make_shared<RecordingLogSink>();
    std::shared_ptr<LogSink> previousSink;
};

TEST_F(FileUserDefaultsTest, ValuesKeepTheirTypesAcrossARestart) {
    {
        FileUserDefaults d(folder.string());
        d.setBool("flag", true);
        d.setInteger("count", -42);
        d.setDouble("scale", 1.0);
        d.setString("name", "Café \"quoted\"");
        d.setData("session", Data{0, 1, 254, 255});
        d.setObject("when", Date{786297600.5});
        d.setObject("list", DefaultsArray{1, "two", 3.5});
        d.setObject("dict", DefaultsDictionary{{"$data", "not a tag"}, {"n", 1}});
        d.setBool("gone", true);
        d.removeObject("gone");
    }
    FileUserDefaults again(folder.string());
    const DefaultsDictionary expected{
        {"flag", true},
        {"count", std::int64_t{-42}},
        {"scale", 1.0},
        {"name", "Café \"quoted\""},
        {"session", Data{0, 1, 254, 255}},
        {"when", Date{786297600.5}},
        {"list", DefaultsArray{1, "two", 3.5}},
        {"dict", DefaultsDictionary{{"$data", "not a tag"}, {"n", 1}}},
    };
    EXPECT_EQ(again.persistentDomain(), expected);
    EXPECT_TRUE(again.persistentValue("scale")->as<double>()) << "1.0 stays a double";
    EXPECT_EQ(fs::status(file()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(FileUserDefaultsTest, ANumberThatIsNotFiniteIsLeftOutNotWrittenAsNull) {
    {
        FileUserDefaults d(folder.string());
        d.setDouble("scale", 1.5);
        d.setDouble("broken", std::nan(""));
        d.setObject("list", DefaultsArray{1, std::numeric_limits<double>::infinity()});
        d.synchronize();
        for (const char* key : {"\"broken\"", "\"list\""}) {
            const auto lines = log->messages("defaults");
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
                return line.find(key) != std::string::npos;
            })) << key;
        }
    }
    EXPECT_EQ(test::readText(file()).find("null"), std::string::npos);
    FileUserDefaults again(folder.string());
    EXPECT_EQ(again.persistentDomain(), (DefaultsDictionary{{"scale", 1.5}}));
}

TEST_F(FileUserDefaultsTest, ADamagedFileThatCannotBeMovedAsideIsNeverWrittenOver) {
    // A folder so deep that "defaults.json" still fits the system's path limit but the longer
    // name it would be moved aside to does not: the rename fails as it would on a folder the
    // program may read but not change.
    fs::path deep = folder;
    const std::size_t limit = PATH_MAX - 1 - std::string("/defaults.json").size();
    while (deep.string().size() + 201 <= limit) {
        deep /= std::string(200, 'd');
    }
    deep /= std::string(limit - deep.string().size() - 1, 'e');
    ASSERT_EQ(deep.string().size() + std::string("/defaults.json").size(), PATH_MAX - 1);
    fs::create_directories(deep);
    const fs::path settings = deep / "defaults.json";
    const std::string content = "{\"showTimer\": tru";
    std::ofstream(settings, std::ios::binary) << content;

    {
        FileUserDefaults d(deep.string());
        EXPECT_TRUE(d.isReadOnly());
        EXPECT_NE(d.readOnlyReason().find("could not be moved aside"), std::string::npos)
            << d.readOnlyReason();
        d.setBool("showTimer", false);
        d.synchronize();
        EXPECT_FALSE(d.boolForKey("showTimer")) << "the change holds in memory";
    }
    EXPECT_EQ(test::readText(settings), content) << "the damaged file is left as it was";
}

TEST_F(FileUserDefaultsTest, RemovingTheDomainEmptiesTheFileButKeepsRegisteredValues) {
    FileUserDefaults d(folder.string());
    d.registerDefaults({{"showTimer", true}});
    d.setBool("showTimer", false);
    d.removePersistentDomain();
    d.synchronize();
    EXPECT_TRUE(d.boolForKey("showTimer"));
    FileUserDefaults again(folder.string());
    EXPECT_TRUE(again.persistentDomain().empty());
    EXPECT_FALSE(again.registeredValue("showTimer")) << "registered values are never stored";
}

TEST_F(FileUserDefaultsTest, EachSetAndRemovalAnnouncesItsKey) {
    FileUserDefaults d(folder.string());
    std::vector<std::string> heard;
    auto subscription = d.changed.subscribe([&](const std::string& key) {
        heard.push_back(key + "=" + std::to_string(d.integerForKey(key)));
    });
    d.setInteger("settingsTabSelection", 6);
    d.removeObject("settingsTabSelection");
    d.removePersistentDomain();
    EXPECT_EQ(heard,
              (std::vector<std::string>{"settingsTabSelection=6", "settingsTabSelection=0", "=0"}));
}

TEST_F(FileUserDefaultsTest, DamagedFilesAreSetAsideAndTheStoreStartsEmpty) {
    const std::string cases[] = {"{\"showTimer\": tru", "garbage\x01\x02", "[1, 2, 3]",
                                 "{\"x\": {\"$unknown\": 1}}", ""};
    for (const auto& content : cases) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::ofstream(file(), std::ios::binary) << content;
        log->clear();

        FileUserDefaults d(folder.string());
        EXPECT_TRUE(d.persistentDomain().empty()) << content;
        const auto aside = damaged();
        ASSERT_EQ(aside.size(), 1u) << content;
        EXPECT_EQ(test::readText(aside[0]), content) << "the damaged file is kept as it was";
        EXPECT_NE(aside[0].filename().string().find("defaults.json.damaged-20260105T090000Z"),
                  std::string::npos)
            << aside[0];
        const auto lines = log->messages("defaults");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("is damaged"), std::string::npos) << lines[0];

        d.setBool("showTimer", false);
        d.synchronize();
        EXPECT_EQ(test::readText(aside[0]), content) << "never overwritten in place";
        EXPECT_EQ(FileUserDefaults(folder.string()).persistentValue("showTimer"),
                  DefaultsValue(false));
    }
}

TEST_F(FileUserDefaultsTest, AFileLargerThanAnySettingsIsSetAsideAndOneAtTheLimitIsRead) {
    constexpr std::size_t kLimit = FileUserDefaults::kMaxFileSize;
    // Settings that decode, padded with blanks to the given size.
    const auto padded = [](std::size_t size) {
        const std::string text = "{\"showTimer\": false}";
        return text + std::string(size - text.size(), ' ');
    };
    const std::string path = file().string();
    struct Case {
        const char* name;
        std::size_t size;
        std::string logged;  // nothing when the file is read
    };
    const Case cases[] = {
        {"at the limit", kLimit, ""},
        {"one byte over", kLimit + 1,
         "The settings file " + path + " is too large (" + std::to_string(kLimit + 1) +
             " bytes, over the limit of 32 MiB); moved it to " + path +
             ".damaged-20260105T090000Z and started from the default settings."},
        {"50 MiB", 50u << 20,
         "The settings file " + path +
             " is too large (50 MiB, over the limit of 32 MiB); moved it to " + path +
             ".damaged-20260105T090000Z and started from the default settings."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::ofstream(file(), std::ios::binary) << padded(std::min(c.size, kLimit + 1));
        fs::resize_file(file(), c.size);
        log->clear();

        FileUserDefaults d(folder.string());
        EXPECT_FALSE(d.isReadOnly());
        EXPECT_EQ(log->messages("defaults"), c.logged.empty() ? std::vector<std::string>{}
                                                              : std::vector<std::string>{c.logged});
        if (c.logged.empty()) {
            EXPECT_EQ(d.persistentValue("showTimer"), DefaultsValue(false));
            EXPECT_TRUE(damaged().empty());
            continue;
        }
        EXPECT_TRUE(d.persistentDomain().empty());
        const auto aside = damaged();
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(fs::file_size(aside[0]), c.size) << "the file is kept as it was";
        d.setBool("showTimer", true);
        d.synchronize();
        EXPECT_EQ(FileUserDefaults(folder.string()).persistentDomain(),
                  (DefaultsDictionary{{"showTimer", true}}));
    }

    // One that grows too large while Orvel runs is set aside before the next save.
    fs::remove_all(folder);
    FileUserDefaults d(folder.string(), FileUserDefaults::Writes::Synchronous);
    d.setBool("showTimer", false);
    std::ofstream(file(), std::ios::binary) << padded(kLimit + 1);
    log->clear();
    d.setInteger("count", 1);
    EXPECT_EQ(log->messages("defaults"),
              std::vector<std::string>{"The settings file " + path + " was too large (" +
                                       std::to_string(kLimit + 1) +
                                       " bytes, over the limit of 32 MiB); moved it to " + path +
                                       ".damaged-20260105T090000Z before saving."});
    EXPECT_EQ(FileUserDefaults(folder.string()).persistentDomain(),
              (DefaultsDictionary{{"count", std::int64_t{1}}}));
}

// Settings nest a few levels at most; a file nested without end (the inputs, found by fuzzing,
// once overflowed the stack) is refused in words.
TEST_F(FileUserDefaultsTest, NestingBeyondTheLimitIsRefusedInWords) {
    for (const char* name : {"deep-nesting.json", "deep-dictionaries.json"}) {
        SCOPED_TRACE(name);
        const std::string text = test::readText(fs::path(ORVEL_TEST_DATA) / "fuzz/defaults" / name);
        ASSERT_FALSE(text.empty());
        std::string fault;
        EXPECT_FALSE(FileUserDefaults::decode(text, &fault).has_value());
        EXPECT_EQ(fault, "the value of \"a\" is nested more than 64 levels deep");
    }
    const auto nested = [](int levels) {
        return "{\"a\": " + std::string(levels, '[') + std::string(levels, ']') + "}";
    };
    std::string fault;
    EXPECT_TRUE(FileUserDefaults::decode(nested(64), &fault).has_value()) << fault;
    EXPECT_FALSE(FileUserDefaults::decode(nested(65), &fault).has_value());
}

// Root reads a file whatever its mode, so these cases put something unreadable in the file's
// place instead: a folder, or a symbolic link that leads back to itself. Both fail the read the
// way a file without read permission does, with the file still there.
enum class Unreadable { folder, linkLoop };

TEST_F(FileUserDefaultsTest, AFileThatCannotBeReadIsNeverWrittenOver) {
    struct Case {
        const char* name;
        Unreadable kind;
        bool atStart;  // else it becomes unreadable while the store runs
    };
    const Case cases[] = {
        {"a folder at start", Unreadable::folder, true},
        {"a link loop at start", Unreadable::linkLoop, true},
        {"a folder before a write", Unreadable::folder, false},
        {"a link loop before a write", Unreadable::linkLoop, false},
    };
    const auto makeUnreadable = [this](Unreadable kind) {
        fs::remove(file());
        if (kind == Unreadable::folder) {
            fs::create_directories(file() / "inside");
            std::ofstream(file() / "inside/keep") << "kept";
        } else {
            fs::create_symlink("defaults.json", file());
        }
    };
    const auto leftAsItWas = [this](Unreadable kind) {
        if (kind == Unreadable::folder) {
            return fs::is_directory(file()) && test::readText(file() / "inside/keep") == "kept";
        }
        return fs::is_symlink(file()) && fs::read_symlink(file()) == "defaults.json";
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::ofstream(file()) << R"({"showTimer": false})";
        if (c.atStart) {
            makeUnreadable(c.kind);
        }
        log->clear();

        std::optional<FileUserDefaults> d;
        ASSERT_NO_THROW(d.emplace(folder.string()));
        d->registerDefaults({{"showTimer", true}, {"engine", "assertions"}});
        EXPECT_EQ(d->boolForKey("showTimer"), c.atStart) << "the registered value, else the file's";
        if (!c.atStart) {
            makeUnreadable(c.kind);
        }
        d->setString("engine", "caffeinate");
        d->synchronize();
        d->setBool("showTimer", true);
        d->synchronize();

        EXPECT_TRUE(leftAsItWas(c.kind));
        EXPECT_EQ(d->stringForKey("engine"), "caffeinate") << "changes hold for this run";
        EXPECT_TRUE(damaged().empty());
        const auto lines = log->messages("defaults");
        ASSERT_EQ(lines.size(), 1u) << "once, not at every change";
        EXPECT_NE(lines[0].find(file().string()), std::string::npos) << lines[0];
        EXPECT_TRUE(d->isReadOnly());
        EXPECT_NE(d->readOnlyReason().find(file().string()), std::string::npos)
            << d->readOnlyReason();
        d.reset();
        EXPECT_TRUE(leftAsItWas(c.kind)) << "nor when the store goes";
    }
}

TEST_F(FileUserDefaultsTest, AReadableFileLeavesTheStoreWritable) {
    FileUserDefaults d(folder.string());
    d.setBool("showTimer", false);
    d.synchronize();
    FileUserDefaults again(folder.string());
    EXPECT_FALSE(again.isReadOnly());
    EXPECT_EQ(again.readOnlyReason(), "");
    EXPECT_TRUE(log->messages("defaults").empty());
}

TEST_F(FileUserDefaultsTest, ALockFileThatCannotBeOpenedIsLoggedAndSavingGoesOn) {
    fs::create_directories(folder / ".defaults.lock/inside");
    FileUserDefaults d(folder.string(), FileUserDefaults::Writes::Synchronous);
    auto lines = log->messages("defaults");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find((folder / ".defaults.lock").string()), std::string::npos) << lines[0];

    d.setInteger("count", 3);
    EXPECT_EQ(log->messages("defaults").size(), 2u) << "each attempt to lock says so";
    EXPECT_EQ(FileUserDefaults(folder.string()).integerForKey("count"), 3);
}

TEST_F(FileUserDefaultsTest, AFolderThatCannotBeCreatedIsLoggedAndChangesStayInMemory) {
    fs::create_directories(folder);
    std::ofstream(folder / "file") << "in the way";
    const fs::path blocked = folder / "file/orvel";
    FileUserDefaults d(blocked.string(), FileUserDefaults::Writes::Synchronous);
    auto lines = log->messages("defaults");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Could not create the folder " + blocked.string()), std::string::npos)
        << lines[0];
    EXPECT_FALSE(d.isReadOnly()) << "there is no file to keep";

    d.setBool("showTimer", false);
    EXPECT_FALSE(d.boolForKey("showTimer"));
    lines = log->messages("defaults");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind("Settings not saved: Could not create the folder", 0), 0u) << lines[1];
}

TEST_F(FileUserDefaultsTest, AKillBetweenWriteAndRenameLeavesTheOldFileWhole) {
    {
        FileUserDefaults d(folder.string());
        d.setString("engine", "assertions");
    }
    const std::string before = test::readText(file());

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileUserDefaults d(folder.string(), FileUserDefaults::Writes::Synchronous);
        d.setBeforeReplaceHook([] { ::raise(SIGKILL); });
        d.setString("engine", "caffeinate");
        ::_exit(0);  // not reached
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    EXPECT_EQ(test::readText(file()), before);
    bool leftover = false;
    for (const auto& entry : fs::directory_iterator(folder)) {
        leftover |= entry.path().filename().string().find(".tmp-") != std::string::npos;
    }
    EXPECT_TRUE(leftover) << "the killed writer left its complete temporary file";

    FileUserDefaults after(folder.string());
    EXPECT_EQ(after.stringForKey("engine"), "assertions");
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos)
            << "stale temporary files are cleared at start";
    }
}

TEST_F(FileUserDefaultsTest, TwoStoresOnOneFileKeepEachOthersChanges) {
    FileUserDefaults first(folder.string());
    FileUserDefaults second(folder.string());
    first.setInteger("a", 1);
    first.synchronize();
    second.setInteger("b", 2);
    second.synchronize();
    first.setInteger("c", 3);
    first.synchronize();
    const DefaultsDictionary all{{"a", 1}, {"b", 2}, {"c", 3}};
    EXPECT_EQ(FileUserDefaults(folder.string()).persistentDomain(), all);
}

TEST_F(FileUserDefaultsTest, ConcurrentProcessesNeitherCorruptNorLoseTheFile) {
    fs::create_directories(folder);
    constexpr int kProcesses = 4;
    constexpr int kKeys = 40;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            FileUserDefaults d(folder.string(), FileUserDefaults::Writes::Synchronous);
            for (int k = 0; k < kKeys; ++k) {
                d.setInteger("p" + std::to_string(p) + "k" + std::to_string(k), k);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    FileUserDefaults d(folder.string());
    EXPECT_EQ(d.persistentDomain().size(), static_cast<std::size_t>(kProcesses * kKeys));
    EXPECT_TRUE(damaged().empty());
}

TEST_F(FileUserDefaultsTest, WritesHappenOffTheCallingThreadAndSynchronizeWaitsForThem) {
    FileUserDefaults d(folder.string());
    for (int i = 0; i < 500; ++i) {
        d.setInteger("counter", i);
    }
    d.synchronize();
    EXPECT_EQ(FileUserDefaults(folder.string()).integerForKey("counter"), 499);
}

}  // namespace
}  // namespace orvel
