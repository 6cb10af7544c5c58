#include "platform/linux/LinuxProcesses.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "foundation/Localization.h"
#include "foundation/Registry.h"
#include "platform/sim/RecordingLogSink.h"
#include "support/BusTest.h"
#include "support/RealThings.h"

namespace orvel {
namespace {

// Real children. Waits are on the child's own exit, bounded by a limit a working system never
// comes near, never on the passing of time.
constexpr auto kLimit = std::chrono::seconds(30);

// The pid a child wrote to `path`, once it has (0 when none came within the limit).
pid_t waitForPidIn(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        pid_t pid = 0;
        if (std::ifstream(path) >> pid) {
            return pid;
        }
        std::this_thread::yield();
    }
    return 0;
}

// The first line a child wrote to `path`, once it has (empty when none came within the limit).
std::string waitForLineIn(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        std::string line;
        if (std::ifstream in(path); std::getline(in, line)) {
            return line;
        }
        std::this_thread::yield();
    }
    return {};
}

struct Exit {
    int status;
    std::thread::id thread;
};

class LinuxProcessesTest : public ::testing::Test {
  protected:
    std::pair<std::shared_ptr<ChildProcess>, std::future<Exit>> launch(
        const std::string& executable, std::vector<std::string> arguments) {
        auto promise = std::make_shared<std::promise<Exit>>();
        auto future = promise->get_future();
        auto child = processes.launch({executable, std::move(arguments)}, [promise](int status) {
            promise->set_value(Exit{status, std::this_thread::get_id()});
        });
        EXPECT_TRUE(child.ok()) << (child.ok() ? "" : child.error().message);
        return {child.ok() ? child.value() : nullptr, std::move(future)};
    }

    LinuxProcesses processes;
};

TEST_F(LinuxProcessesTest, ReportsExitStatusOnAnotherThread) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
    };
    const Case cases[] = {
        {{"-c", "exit 0"}, 0}, {{"-c", "exit 3"}, 3}, {{"-c", "kill -9 $$"}, 137}};
    for (const auto& c : cases) {
        auto [child, exited] = launch("/bin/sh", c.arguments);
        ASSERT_TRUE(child);
        ASSERT_EQ(exited.wait_for(kLimit), std::future_status::ready);
        const Exit exit = exited.get();
        EXPECT_EQ(exit.status, c.status);
        EXPECT_NE(exit.thread, std::this_thread::get_id());
        EXPECT_FALSE(child->isRunning());
        EXPECT_EQ(child->terminationStatus(), c.status);
    }
}

TEST_F(LinuxProcessesTest, KeepsTheLastOfStandardErrorWhenAskedWhateverStillHoldsIt) {
    const std::string pidFile =
        ::testing::TempDir() + "orvel-grandchild-" + std::to_string(::getpid());
    std::remove(pidFile.c_str());
    struct Case {
        bool keep;
        std::string script;
        int status;
        std::string said;
    };
    const Case cases[] = {
        {true, "echo one >&2; echo two >&2; exit 3", 3, "one\ntwo\n"},
        {false, "echo one >&2; exit 3", 3, ""},
        {true, "head -c 10000 /dev/zero | tr '\\000' x >&2; echo last >&2", 0,
         std::string(ChildProcess::kStandardErrorLimit - 5, 'x') + "last\n"},
        // A grandchild that keeps the stream open does not hold the exit back.
        {true, "sleep 600 & echo $! > " + pidFile + "; echo said >&2; exit 4", 4, "said\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        auto promise = std::make_shared<std::promise<int>>();
        auto exited = promise->get_future();
        LaunchRequest request{"/bin/sh", {"-c", c.script}};
        request.keepStandardError = c.keep;
        auto child =
            processes.launch(request, [promise](int status) { promise->set_value(status); });
        ASSERT_TRUE(child.ok()) << child.error().message;
        // Not an assertion: the grandchild is ended below whatever happens.
        if (exited.wait_for(kLimit) != std::future_status::ready) {
            ADD_FAILURE() << "the exit was not told";
            continue;
        }
        EXPECT_EQ(exited.get(), c.status);
        EXPECT_EQ(child.value()->standardError(), c.said);
    }
    if (const pid_t grandchild = waitForPidIn(pidFile); grandchild > 0) {
        ::kill(grandchild, SIGKILL);
    }
    std::remove(pidFile.c_str());
}

// Orvel sets LANGUAGE to the catalogue it reads; its children get the user's own.
TEST_F(LinuxProcessesTest, ChildrenSeeLanguageAsTheUserHadIt) {
    const char* saved = std::getenv("LANGUAGE");
    const std::optional<std::string> restore =
        saved ? std::optional<std::string>(saved) : std::nullopt;
    const std::string locale = std::setlocale(LC_MESSAGES, nullptr);
    const std::string marker =
        ::testing::TempDir() + "orvel-language-" + std::to_string(::getpid());
    struct Case {
        std::optional<std::string> user;
        std::string seen;  // by the child
    };
    const Case cases[] = {{std::nullopt, "unset"}, {"fr:it", "fr:it"}, {"de", "de"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seen);
        Registry::reset();
        if (c.user) {
            ::setenv("LANGUAGE", c.user->c_str(), 1);
        } else {
            ::unsetenv("LANGUAGE");
        }
        Localization::shared().useCatalogues(ORVEL_TEST_LOCALE, "de");
        ASSERT_STREQ(std::getenv("LANGUAGE"), "de");
        for (const bool detached : {false, true}) {
            std::remove(marker.c_str());
            const LaunchRequest request{"/bin/sh",
                                        {"-c", "echo \"${LANGUAGE-unset}\" > " + marker +
                                                   ".new; mv " + marker + ".new " + marker}};
            if (detached) {
                ASSERT_TRUE(processes.launchDetached(request).ok());
            } else {
                ASSERT_TRUE(processes.launch(request, [](int) {}).ok());
            }
            EXPECT_EQ(waitForLineIn(marker), c.seen) << (detached ? "detached" : "launched");
        }
    }
    Registry::reset();
    if (restore) {
        ::setenv("LANGUAGE", restore->c_str(), 1);
    } else {
        ::unsetenv("LANGUAGE");
    }
    std::setlocale(LC_MESSAGES, locale.c_str());
    std::remove(marker.c_str());
}

TEST_F(LinuxProcessesTest, TerminateEndsARunningChildWithSigterm) {
    auto [child, exited] = launch("/bin/sleep", {"600"});
    ASSERT_TRUE(child);
    EXPECT_TRUE(child->isRunning());
    EXPECT_GT(child->pid(), 0);
    child->terminate();
    ASSERT_EQ(exited.wait_for(kLimit), std::future_status::ready);
    EXPECT_EQ(exited.get().status, 128 + SIGTERM);
    child->terminate();  // already reaped: must not signal anything
}

TEST_F(LinuxProcessesTest, ClearedHandlerIsNotCalled) {
    auto called = std::make_shared<std::atomic<bool>>(false);
    auto child = processes.launch({"/bin/sleep", {"600"}}, [called](int) { *called = true; });
    ASSERT_TRUE(child.ok());
    child.value()->clearTerminationHandler();
    child.value()->terminate();
    // Wait for the exit itself (the status appears once the reaper has run).
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (child.value()->isRunning() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(child.value()->isRunning());
    EXPECT_FALSE(*called);
}

TEST_F(LinuxProcessesTest, ChildStandardStreamsAreTheNullDevice) {
    auto [child, exited] = launch("/bin/sleep", {"600"});
    ASSERT_TRUE(child);
    for (int fd = 0; fd < 3; ++fd) {
        const auto link = "/proc/" + std::to_string(child->pid()) + "/fd/" + std::to_string(fd);
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0) << link;
        EXPECT_STREQ(target, "/dev/null") << fd;
    }
    child->terminate();
    ASSERT_EQ(exited.wait_for(kLimit), std::future_status::ready);
}

TEST_F(LinuxProcessesTest, MissingOrNonExecutableFilesFailWithADescription) {
    EXPECT_TRUE(processes.isExecutableFile("/bin/sh"));
    const std::string plain =
        ::testing::TempDir() + "orvel-plain-file-" + std::to_string(::getpid());
    std::ofstream(plain) << "not a program";
    EXPECT_FALSE(processes.isExecutableFile(plain));
    std::remove(plain.c_str());
    EXPECT_FALSE(processes.isExecutableFile("/bin"));
    EXPECT_FALSE(processes.isExecutableFile("/no/such/program"));

    auto missing = processes.launch({"/no/such/program", {}}, nullptr);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message, "No such file or directory (/no/such/program)");
}

TEST_F(LinuxProcessesTest, AProgramTheSystemCannotRunFailsWithTheSystemsWords) {
    // Executable, but neither a binary nor a script with a #! line: only exec can tell.
    const std::string path = ::testing::TempDir() + "orvel-not-a-program";
    std::ofstream(path) << "just text\n";
    std::filesystem::permissions(path, std::filesystem::perms(0755));
    ASSERT_TRUE(processes.isExecutableFile(path));
    auto launched = processes.launch({path, {}}, nullptr);
    ASSERT_FALSE(launched.ok());
    EXPECT_EQ(launched.error().message, "Exec format error (" + path + ")");
    std::remove(path.c_str());
}

TEST_F(LinuxProcessesTest, ADetachedLaunchThatFailsSaysWhyAndLeavesOneLogLine) {
    auto log = std::make_shared<RecordingLogSink>();
    auto previous = installLogSink(log);
    const auto launched = processes.launchDetached({"/no/such/program", {}});
    installLogSink(previous);
    ASSERT_FALSE(launched.ok());
    EXPECT_EQ(launched.error().message, "No such file or directory (/no/such/program)");
    const auto records = log->records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, LogLevel::Error);
    EXPECT_NE(records[0].message.find("No such file or directory (/no/such/program)"),
              std::string::npos)
        << records[0].message;
}

TEST_F(LinuxProcessesTest, DetachedChildrenAreReapedAndTheirPidIsTold) {
    // Of this process alone: other runs of the suite share the temporary folder.
    const std::string marker =
        ::testing::TempDir() + "orvel-detached-" + std::to_string(::getpid());
    std::remove(marker.c_str());
    const auto launched = processes.launchDetached({"/bin/sh", {"-c", "echo $$ > " + marker}});
    ASSERT_TRUE(launched.ok());
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    pid_t pid = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(marker);
        if (in >> pid) {
            // Gone from the process table once reaped: kill(pid, 0) fails with ESRCH.
            if (::kill(pid, 0) != 0) {
                break;
            }
        }
        std::this_thread::yield();
    }
    ASSERT_GT(pid, 0);
    EXPECT_EQ(pid, launched.value()) << "the launch tells the child's pid";
    EXPECT_NE(::kill(pid, 0), 0) << "a detached child must not linger as a zombie";
    std::remove(marker.c_str());
}

// Children of a launcher program (standing for Orvel) that the test kills.

// Whether a signal was sent to a process and waits, blocked, to be handled.
bool isPending(pid_t pid, int signal) {
    std::istringstream status(test::readText("/proc/" + std::to_string(pid) + "/status"));
    unsigned long long pending = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
            pending |= std::stoull(line.substr(7), nullptr, 16);
        }
    }
    return (pending >> (signal - 1)) & 1u;
}

TEST(LinuxProcessesLifetimeTest, ALaunchedChildGetsSigtermWhenItsLauncherDiesADetachedOneDoesNot) {
    struct Case {
        const char* mode;
        bool sigterm;
    };
    const Case cases[] = {{"launch", true}, {"detach", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const std::string pidFile =
            ::testing::TempDir() + "orvel-held-" + c.mode + "-" + std::to_string(::getpid());
        std::remove(pidFile.c_str());
        // The child blocks SIGTERM, so a SIGTERM sent to it stays there to be seen.
        const pid_t launcher = test::spawn(
            {ORVEL_TEST_LAUNCHER, c.mode, ORVEL_TEST_LAUNCHER, "hold", pidFile}, {}, "/dev/null");
        ASSERT_GT(launcher, 0);
        const pid_t child = waitForPidIn(pidFile);
        ASSERT_GT(child, 0);
        ::kill(launcher, SIGKILL);
        // The kernel sends the parent's death signal before it reports the parent's exit.
        EXPECT_EQ(test::waitForExit(launcher), 128 + SIGKILL);
        EXPECT_EQ(::kill(child, 0), 0) << "the child lives on, with SIGTERM blocked";
        EXPECT_EQ(isPending(child, SIGTERM), c.sigterm);
        ::kill(child, SIGKILL);
        std::remove(pidFile.c_str());
    }
}

// Orvel's caffeinate, launched by a program that then dies as a SIGKILLed Orvel would.
class LinuxProcessesOnBusTest : public test::BusTest {};

TEST_F(LinuxProcessesOnBusTest, CaffeinateLetsItsInhibitorsGoWhenItsLauncherIsKilled) {
    startService("logind");
    const std::string output = bus->folder() + "/launcher.out";
    const pid_t launcher = test::spawn(
        {ORVEL_TEST_LAUNCHER, "launch", ORVEL_CAFFEINATE, "-i", "-s"}, busEnvironment(), output);
    ASSERT_GT(launcher, 0);
    auto whatIsHeld = [&] {
        std::vector<std::string> whats;
        for (const auto& inhibitor : logindInhibitors()) {
            whats.push_back(inhibitor.what + "/" + inhibitor.mode);
        }
        return whats;
    };
    EXPECT_TRUE(eventually([&] {
        return whatIsHeld() == std::vector<std::string>{"idle/block", "sleep/block"};
    }));

    ::kill(launcher, SIGKILL);
    EXPECT_EQ(test::waitForExit(launcher), 128 + SIGKILL);
    EXPECT_TRUE(waitUntilNothingHeld()) << "still held: " << whatIsHeld().size();

    // A caffeinate left behind (when this fails) would go on holding after the test.
    pid_t caffeinate = 0;
    if (std::istringstream(test::readText(output)) >> caffeinate &&
        test::readText("/proc/" + std::to_string(caffeinate) + "/cmdline").find("caffeinate") !=
            std::string::npos) {
        ::kill(caffeinate, SIGKILL);
    }
}

TEST(LinuxProcessesStandInTest, ASystemProgramWithAStandInIsAlwaysOurs) {
    namespace fs = std::filesystem;
    const fs::path root =
        fs::path(::testing::TempDir()) / ("orvel-standin-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "system");
    fs::create_directories(root / "build");
    fs::create_directories(root / "libexec");
    auto makeProgram = [](const fs::path& path, bool executable) {
        std::ofstream(path) << "#!/bin/sh\nexit 7\n";
        fs::permissions(path, executable ? fs::perms(0755) : fs::perms(0644));
    };
    // The foreign program leaves a mark when it runs.
    const std::string system = (root / "system/caffeinate").string();
    const std::string ranForeign = (root / "ran-foreign").string();
    auto makeForeign = [&] {
        std::ofstream(system) << "#!/bin/sh\necho \"$@\" > '" << ranForeign << "'\nexit 9\n";
        fs::permissions(system, fs::perms(0755));
    };
    const std::string built = (root / "build/caffeinate").string();
    const std::string installed = (root / "libexec/caffeinate").string();

    struct Case {
        bool foreign, built, builtExecutable, installed;
        std::string expected;
        bool executable;
    };
    const Case cases[] = {
        {true, true, true, true, built, true},
        {false, true, true, true, built, true},
        {false, true, false, true, installed, true},
        {false, false, false, true, installed, true},
        {false, false, false, false, installed, false},
        {true, false, false, false, installed, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.foreign << c.built << c.builtExecutable << c.installed);
        for (const auto& p : {system, built, installed}) {
            fs::remove(p);
        }
        if (c.foreign)
            makeForeign();
        if (c.built)
            makeProgram(built, c.builtExecutable);
        if (c.installed)
            makeProgram(installed, true);
        LinuxProcesses processes({{system, {built, installed}}});
        EXPECT_EQ(processes.resolve(system), c.expected);
        EXPECT_EQ(processes.isExecutableFile(system), c.executable);
        EXPECT_EQ(processes.resolve(built), built) << "only the named path has stand-ins";
    }

    // Launching the named path runs ours with the caller's arguments, a foreign program there
    // or not.
    makeForeign();
    makeProgram(built, true);
    LinuxProcesses processes({{system, {built}}});
    std::promise<int> exited;
    auto child = processes.launch({system, {"-i"}}, [&](int status) { exited.set_value(status); });
    ASSERT_TRUE(child.ok()) << child.error().message;
    auto future = exited.get_future();
    ASSERT_EQ(future.wait_for(kLimit), std::future_status::ready);
    EXPECT_EQ(future.get(), 7);
    EXPECT_FALSE(fs::exists(ranForeign)) << "the foreign program ran";
    fs::remove_all(root);
}

TEST(LinuxProcessesStandInTest, CaffeinateIsLookedForBesideABuiltProgramThenInLibexec) {
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string folder = std::string(self).substr(0, std::string(self).rfind('/'));
    const auto standIns = LinuxProcesses::defaultStandIns();
    ASSERT_EQ(standIns.size(), 1u);
    EXPECT_EQ(standIns[0].path, "/usr/bin/caffeinate");
    ASSERT_EQ(standIns[0].candidates.size(), 2u) << "this test runs from the build tree";
    EXPECT_EQ(standIns[0].candidates[0], folder + "/caffeinate");
    EXPECT_TRUE(standIns[0].candidates[1].ends_with("/libexec/orvel/caffeinate"))
        << standIns[0].candidates[1];

    // An installed Orvel shares its folder with other programs: /usr/bin/caffeinate beside
    // /usr/bin/Orvel may be anyone's. Its own is in libexec/orvel of the prefix it runs from.
    for (const auto& [installed, expected] :
         {std::pair{std::optional<std::string>("/usr/bin/Orvel"),
                    std::string("/usr/libexec/orvel/caffeinate")},
          std::pair{std::optional<std::string>("/opt/o/bin/Orvel"),
                    std::string("/opt/o/libexec/orvel/caffeinate")},
          std::pair{std::optional<std::string>(), std::string()}}) {
        SCOPED_TRACE(installed.value_or("unknown"));
        const auto found = LinuxProcesses::standInsFor(installed);
        ASSERT_EQ(found.size(), 1u);
        ASSERT_EQ(found[0].candidates.size(), 1u);
        if (installed) {
            EXPECT_EQ(found[0].candidates[0], expected);
        } else {
            EXPECT_TRUE(found[0].candidates[0].ends_with("/libexec/orvel/caffeinate"))
                << "where this build installs it";
        }
    }
}

}  // namespace
}  // namespace orvel
