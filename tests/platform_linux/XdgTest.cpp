#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>

#include "platform/linux/LinuxPaths.h"
#include "platform/linux/XdgLoginItems.h"
#include "support/OrvelTest.h"
#include "support/RealThings.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;
using namespace login_item_status;

xdg::Environment environment(std::map<std::string, std::string> variables) {
    return [variables](const char* name) -> std::optional<std::string> {
        const auto it = variables.find(name);
        return it == variables.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
}

TEST(LinuxPathsTest, FoldersFollowTheXdgVariablesAndIgnoreRelativeOnes) {
    struct Case {
        std::map<std::string, std::string> env;
        std::string support, config;
    };
    const Case cases[] = {
        {{{"HOME", "/home/ada"}}, "/home/ada/.local/share/Orvel", "/home/ada/.config/orvel"},
        {{{"HOME", "/home/ada"}, {"XDG_DATA_HOME", "/data"}, {"XDG_CONFIG_HOME", "/conf"}},
         "/data/Orvel",
         "/conf/orvel"},
        {{{"HOME", "/home/ada"}, {"XDG_DATA_HOME", "relative"}, {"XDG_CONFIG_HOME", ""}},
         "/home/ada/.local/share/Orvel",
         "/home/ada/.config/orvel"},
    };
    for (const auto& c : cases) {
        LinuxPaths paths(environment(c.env), "/opt/orvel/share");
        EXPECT_EQ(paths.applicationSupportDirectory(), c.support);
        EXPECT_EQ(paths.configDirectory(), c.config);
        EXPECT_EQ(paths.resourcesDirectory(), "/opt/orvel/share");
    }
}

class LinuxRuntimeFolderTest : public test::OrvelTest {};

// $XDG_RUNTIME_DIR is used only when it is a folder of the user's alone; otherwise, as when it is
// unset, runtime files go to a folder under the user's own cache, never to a shared name.
TEST_F(LinuxRuntimeFolderTest, RuntimeFilesStayInAFolderOfTheUsersAlone) {
    const fs::path root = scratch();
    const std::string base = (root / "run").string();
    const std::string cache = (root / "cache/orvel/runtime").string();
    struct Case {
        const char* name;
        std::map<std::string, std::string> env;
        std::function<void()> prepare;
        uid_t owner;
        std::string runtime;
        bool refused;
    };
    auto folder = [&](fs::perms mode) {
        return [&base, mode] {
            fs::create_directories(base);
            fs::permissions(base, mode);
        };
    };
    const std::map<std::string, std::string> home = {{"HOME", (root / "home").string()},
                                                     {"XDG_CACHE_HOME", (root / "cache").string()}};
    auto with = [&home](std::string value) {
        auto env = home;
        env["XDG_RUNTIME_DIR"] = std::move(value);
        return env;
    };
    const uid_t me = ::geteuid();
    const Case cases[] = {
        {"the user's alone", with(base), folder(fs::perms::owner_all), me, base + "/orvel", false},
        {"unset", home, [] {}, me, cache, false},
        {"unset, no cache folder named",
         {{"HOME", (root / "home").string()}},
         [] {},
         me,
         (root / "home/.cache/orvel/runtime").string(),
         false},
        {"relative", with("run"), [] {}, me, cache, true},
        {"absent", with(base), [] {}, me, cache, true},
        {"open to others", with(base), folder(fs::perms(0755)), me, cache, true},
        {"writable by all", with(base), folder(fs::perms(01777)), me, cache, true},
        {"another user's", with(base), folder(fs::perms::owner_all), me + 1, cache, true},
        {"a link to a private folder", with(base),
         [&] {
             fs::create_directories(root / "elsewhere");
             fs::permissions(root / "elsewhere", fs::perms::owner_all);
             fs::create_directory_symlink(root / "elsewhere", base);
         },
         me, cache, true},
        {"a file", with(base), [&] { std::ofstream(base) << "x"; }, me, cache, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(base);
        sim().log().clear();
        c.prepare();
        LinuxPaths paths(environment(c.env), "/opt/orvel/share", c.owner);
        EXPECT_EQ(paths.runtimeDirectory(), c.runtime);
        const auto logged = sim().log().messages("platform");
        const bool named = std::any_of(logged.begin(), logged.end(), [&c](const std::string& m) {
            return m.find(c.env.count("XDG_RUNTIME_DIR") ? c.env.at("XDG_RUNTIME_DIR")
                                                         : "XDG_RUNTIME_DIR") != std::string::npos;
        });
        EXPECT_EQ(named, c.refused) << "a refused folder is logged by name, and only then";
    }
}

TEST(LinuxPathsTest, ABuildTreeUsesTheSourceTreesResources) {
    // This test runs from the build tree.
    EXPECT_EQ(LinuxPaths::defaultResourcesDirectory(),
              fs::path(ORVEL_TEST_DATA).parent_path().parent_path() / "resources");
}

TEST(LinuxPathsTest, TheRunningProgramIsKnownByItsAbsolutePath) {
    const auto self = LinuxPaths::executablePath();
    ASSERT_TRUE(self.ok()) << self.error().message;
    const fs::path path(*self);
    EXPECT_TRUE(path.is_absolute()) << *self;
    EXPECT_EQ(path.filename(), "orvel_platform_linux_tests");
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_EQ(::access(path.c_str(), X_OK), 0);
}

// Programs whose Exec value once read back as another program: a backslash before a letter of the
// string layer's escapes, two backslashes, a line break.
TEST(XdgTest, ExecValuesOfProgramsWithEscapesReadBackAsTheProgram) {
    const fs::path folder = fs::path(ORVEL_TEST_DATA) / "fuzz/exec-programs";
    ASSERT_TRUE(fs::is_directory(folder));
    for (const auto& file : fs::directory_iterator(folder)) {
        const std::string program = test::readText(file.path());
        SCOPED_TRACE(file.path().filename().string());
        const std::string value = xdg::execValue(program);
        EXPECT_EQ(value.find('\n'), std::string::npos) << "an Exec value is one line";
        EXPECT_EQ(xdg::execWords(value), std::vector<std::string>{program});
    }
}

TEST(XdgTest, ExecValuesSurviveTheRoundTripAndNameTheirWords) {
    for (const std::string program :
         {"/usr/bin/orvel", "/opt/Orvel Test/Orvel", "/opt/a\"b$c`d\\e/Orvel", "/opt/100%/Orvel"}) {
        SCOPED_TRACE(program);
        EXPECT_EQ(xdg::execWords(xdg::execValue(program)), std::vector<std::string>{program});
    }
    struct Case {
        std::string value;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"meld %F", {"meld", "%F"}},
        {"env A=1 \"/opt/My App/run\" --x", {"env", "A=1", "/opt/My App/run", "--x"}},
        {"sh -c \"echo \\\\\"hi\\\\\"\"", {"sh", "-c", "echo \"hi\""}},
        {"a\\sb", {"a", "b"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(xdg::execWords(c.value), c.words);
    }
}

class XdgLoginItemsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::path(::testing::TempDir()) /
               ("orvel-autostart-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }
    fs::path root;
};

TEST_F(XdgLoginItemsTest, RegisteringWritesTheAutostartEntryAndUnregisteringRemovesIt) {
    XdgLoginItems missingProgram((root / "config/autostart").string(), "/opt/Orvel Test/bin/Orvel");
    EXPECT_EQ(missingProgram.status(), kNotRegistered);
    ASSERT_TRUE(missingProgram.registerItem().ok());
    EXPECT_EQ(test::readText(missingProgram.entryPath()),
              test::readText(std::string(ORVEL_TEST_DATA) + "/autostart/org.orvel.Orvel.desktop"));
    EXPECT_EQ(missingProgram.status(), kNotFound) << "the program it names is not there";

    XdgLoginItems items((root / "config/autostart").string(), "/bin/sh");
    ASSERT_TRUE(items.registerItem().ok());
    EXPECT_EQ(items.status(), kEnabled);
    EXPECT_EQ(
        std::distance(fs::directory_iterator(root / "config/autostart"), fs::directory_iterator()),
        1)
        << "no temporary file is left behind";
    EXPECT_EQ(fs::status(items.entryPath()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << "written private, like every file Orvel replaces whole";

    ASSERT_TRUE(items.unregisterItem().ok());
    EXPECT_EQ(items.status(), kNotRegistered);
    EXPECT_TRUE(items.unregisterItem().ok()) << "unregistering twice is not an error";
}

TEST_F(XdgLoginItemsTest, AnEntryTheUserSwitchedOffNeedsApprovalUntilRegisteredAgain) {
    XdgLoginItems items((root / "autostart").string(), "/bin/sh");
    for (const char* switchedOff : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        SCOPED_TRACE(switchedOff);
        ASSERT_TRUE(items.registerItem().ok());
        std::ofstream(items.entryPath(), std::ios::app) << switchedOff << "\n";
        EXPECT_EQ(items.status(), kRequiresApproval);
        ASSERT_TRUE(items.registerItem().ok());
        EXPECT_EQ(items.status(), kEnabled);
    }
}

TEST_F(XdgLoginItemsTest, AnEntryOverOneMiBIsNotReadAndOneAtTheLimitIs) {
    XdgLoginItems items((root / "autostart").string(), "/bin/sh");
    for (const auto& [size, status] : {std::pair{std::size_t{1} << 20, kRequiresApproval},
                                       std::pair{(std::size_t{1} << 20) + 1, kNotFound}}) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(items.registerItem().ok());
        const std::string switchedOff = "Hidden=true\n";
        std::ofstream(items.entryPath(), std::ios::app)
            << switchedOff
            << std::string(size - fs::file_size(items.entryPath()) - switchedOff.size(), '\n');
        ASSERT_EQ(fs::file_size(items.entryPath()), size);
        EXPECT_EQ(items.status(), status);
    }
}

TEST_F(XdgLoginItemsTest, FailuresSayWhatWentWrongInWords) {
    std::ofstream(root / "file") << "not a folder";
    XdgLoginItems items((root / "file/autostart").string(), "/bin/sh");
    const auto registered = items.registerItem();
    ASSERT_FALSE(registered.ok());
    EXPECT_EQ(registered.error().message.rfind(
                  "Could not add Orvel to the programs that start at login: ", 0),
              0u)
        << registered.error().message;
    EXPECT_NE(
        registered.error().message.find((root / "file/autostart/org.orvel.Orvel.desktop").string()),
        std::string::npos);

    // A folder where the entry should be cannot be removed as an entry.
    XdgLoginItems blocked((root / "blocked").string(), "/bin/sh");
    fs::create_directories(root / "blocked/org.orvel.Orvel.desktop/inside");
    const auto removed = blocked.unregisterItem();
    ASSERT_FALSE(removed.ok());
    EXPECT_EQ(removed.error().message.rfind(
                  "Could not remove Orvel from the programs that start at login: ", 0),
              0u);
}

TEST_F(XdgLoginItemsTest, AnOrvelDesktopEarlierVersionsWroteBecomesTheOneLoginItem) {
    const fs::path program = root / "bin/Orvel";
    fs::create_directories(program.parent_path());
    std::ofstream(program) << "#!/bin/sh\n";
    fs::permissions(program, fs::perms::owner_all);
    const auto entry = [](const std::string& exec, const std::string& extra) {
        return "[Desktop Entry]\nType=Application\nName=Orvel\nExec=" + exec + "\n" + extra;
    };
    struct Case {
        const char* name;
        std::string legacy;                  // orvel.desktop as found
        std::optional<std::string> current;  // org.orvel.Orvel.desktop as found
        int status;
        bool legacyLeft;
    };
    const Case cases[] = {
        {"ours, switched off: moved with the user's choice",
         entry(program.string(), "Hidden=true\n"), std::nullopt, kRequiresApproval, false},
        {"ours, beside the new entry: removed", entry(program.string(), "Hidden=true\n"),
         entry(program.string(), ""), kEnabled, false},
        {"another program's: left alone", entry("/usr/bin/other-orvel", ""), std::nullopt,
         kNotRegistered, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = root / "autostart";
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::ofstream(folder / "orvel.desktop") << c.legacy;
        if (c.current) {
            std::ofstream(folder / "org.orvel.Orvel.desktop") << *c.current;
        }
        XdgLoginItems items(folder.string(), program.string());
        EXPECT_EQ(items.status(), c.status);
        EXPECT_EQ(fs::exists(folder / "orvel.desktop"), c.legacyLeft);
    }

    // Registered again or removed, an old entry does not survive as a second login item.
    for (const bool registering : {true, false}) {
        SCOPED_TRACE(registering);
        const fs::path folder = root / "again";
        fs::create_directories(folder);
        std::ofstream(folder / "orvel.desktop") << entry(program.string(), "");
        XdgLoginItems items(folder.string(), program.string());
        ASSERT_TRUE((registering ? items.registerItem() : items.unregisterItem()).ok());
        EXPECT_FALSE(fs::exists(folder / "orvel.desktop"));
        EXPECT_EQ(items.status(), registering ? kEnabled : kNotRegistered);
    }
}

TEST(XdgLoginItemsFolderTest, TheAutostartFolderIsUnderTheConfigHome) {
    EXPECT_EQ(XdgLoginItems::defaultAutostartFolder(environment({{"HOME", "/home/ada"}})),
              "/home/ada/.config/autostart");
    EXPECT_EQ(XdgLoginItems::defaultAutostartFolder(
                  environment({{"HOME", "/home/ada"}, {"XDG_CONFIG_HOME", "/cfg"}})),
              "/cfg/autostart");
}

}  // namespace
}  // namespace orvel
