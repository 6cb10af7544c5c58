#include "platform/linux/LinuxWorkspace.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/LinuxProcesses.h"
#include "platform/sim/SimProcesses.h"
#include "support/BusTest.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;
using test::BusTest;
using test::loop;
using test::waitFor;

const std::string kData = ORVEL_TEST_DATA;

class LinuxWorkspaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RunLoop::install(std::make_unique<PollRunLoop>());
        previousSink = installLogSink(log);
        folder = fs::path(::testing::TempDir()) /
                 ("orvel-workspace-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder / "applications");
    }
    void TearDown() override {
        for (pid_t pid : children) {
            ::kill(pid, SIGKILL);
            test::waitForExit(pid);
        }
        fs::remove_all(folder);
        installLogSink(previousSink);
        RunLoop::install(nullptr);
    }
    // A desktop entry for /bin/sleep, so sleeping children count as applications.
    LinuxWorkspaceOptions sleepIsAnApplication() {
        std::ofstream(folder / "applications/org.example.Sleeper.desktop")
            << "[Desktop Entry]\nType=Application\nName=Sleeper\nExec=sleep 600\n";
        LinuxWorkspaceOptions options;
        options.applicationFolders = {(folder / "applications").string()};
        return options;
    }
    pid_t startSleeper() {
        const pid_t pid = test::spawn({"/bin/sleep", "600"}, {}, "");
        children.push_back(pid);
        return pid;
    }

    fs::path folder;
    std::vector<pid_t> children;
    std::shared_ptr<RecordingLogSink> log = std::make_shared<RecordingLogSink>();
    std::shared_ptr<LogSink> previousSink;
    LinuxProcesses processes;
};

TEST_F(LinuxWorkspaceTest, ListsTheUsersApplicationsByTheirDesktopEntries) {
    LinuxWorkspaceOptions options;
    options.procRoot = kData + "/proc";
    options.applicationFolders = {kData + "/xdg/local/applications",
                                  kData + "/xdg/system/applications"};
    options.user = 1000;
    LinuxWorkspace workspace(nullptr, processes, options);
    using enum ActivationPolicy;
    const std::vector<RunningApplication> expected = {
        // The local entry wins over the system one with the same id; "env VAR=…" is skipped.
        {4200001, "firefox-esr", "My Firefox", regular},
        // A script is known by its name, not its interpreter's.
        {4200003, "org.gnome.Meld", "Meld", regular},
        // No entry, but in the graphical session without a terminal.
        {4200006, "tool-gui", "tool-gui", accessory},
        // An entry in a subfolder: its id has a dash for the slash.
        {4200009, "kde-org.kde.dolphin", "Dolphin", regular},
        {4200010, "org.gnome.Evolution-alarm-notify", "Evolution Alarm Notify", accessory},
    };
    // Left out: a helper of the same program (4200002), a shell on a terminal (4200004),
    // another user's process (4200005), a kernel thread (4200007), a daemon outside the session
    // whose entry is hidden (4200008) and the user's service manager (4200100).
    EXPECT_EQ(workspace.runningApplications(), expected);
}

TEST_F(LinuxWorkspaceTest, AListedApplicationThatExitsSendsDidTerminate) {
    LinuxWorkspace workspace(nullptr, processes, sleepIsAnApplication());
    const pid_t pid = startSleeper();
    std::vector<RunningApplication> terminated;
    Subscription subscription = workspace.didTerminateApplication.subscribe(
        [&](const RunningApplication& app) { terminated.push_back(app); });

    const auto apps = workspace.runningApplications();
    const auto it = std::find_if(apps.begin(), apps.end(), [&](const RunningApplication& app) {
        return app.processIdentifier == pid;
    });
    ASSERT_NE(it, apps.end());
    EXPECT_EQ(it->bundleIdentifier, "org.example.Sleeper");
    EXPECT_EQ(it->localizedName, "Sleeper");
    workspace.runningApplications();  // a second reading watches it once, not twice

    ::kill(pid, SIGTERM);
    ASSERT_TRUE(waitFor([&] {
        return std::any_of(
            terminated.begin(), terminated.end(),
            [&](const RunningApplication& app) { return app.processIdentifier == pid; });
    }));
    EXPECT_EQ(
        std::count_if(terminated.begin(), terminated.end(),
                      [&](const RunningApplication& app) { return app.processIdentifier == pid; }),
        1);
}

TEST_F(LinuxWorkspaceTest, LaunchesAreReportedWhileSomeoneListens) {
    auto options = sleepIsAnApplication();
    options.launchInterval = 0.02;
    LinuxWorkspace workspace(nullptr, processes, options);
    std::vector<RunningApplication> launched;
    Subscription subscription = workspace.didLaunchApplication.subscribe(
        [&](const RunningApplication& app) { launched.push_back(app); });
    // The first reading after subscribing is the baseline: wait until it has been taken.
    const auto fired = loop().timersFired();
    ASSERT_TRUE(waitFor([&] { return loop().timersFired() > fired; }));

    const pid_t pid = startSleeper();
    ASSERT_TRUE(waitFor([&] {
        return std::any_of(launched.begin(), launched.end(), [&](const RunningApplication& app) {
            return app.processIdentifier == pid;
        });
    }));
    const auto it = std::find_if(launched.begin(), launched.end(),
                                 [&](const auto& app) { return app.processIdentifier == pid; });
    EXPECT_EQ(it->bundleIdentifier, "org.example.Sleeper");
}

TEST_F(LinuxWorkspaceTest, OpenURLHandsTheAddressToXdgOpen) {
    SimProcesses sim;
    LinuxWorkspaceOptions options;
    options.opener = "/usr/bin/xdg-open";
    LinuxWorkspace workspace(nullptr, sim, options);
    struct Case {
        std::string url;
        bool opens;
    };
    const Case cases[] = {
        {"https://example.org/help?topic=sleep#top", true},
        {"mailto:support@example.org", true},
        {"", false},
        {"--help", false},  // would read as an option of xdg-open
        {"https://example.org/\nrm", false},
    };
    sim.setExecutable(options.opener, true);
    std::vector<LaunchRequest> expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const auto result = workspace.openURL(c.url);
        EXPECT_EQ(result.ok(), c.opens);
        if (c.opens) {
            expected.push_back({options.opener, {c.url}});
        }
    }
    ASSERT_EQ(sim.detachedLaunches().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(sim.detachedLaunches()[i].executable, expected[i].executable);
        EXPECT_EQ(sim.detachedLaunches()[i].arguments, expected[i].arguments);
    }

    sim.setExecutable(options.opener, false);
    const auto missing = workspace.openURL("https://example.org");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message,
              "Opening addresses is not available on this system (/usr/bin/xdg-open is missing).");
}

class LinuxWorkspaceSleepTest : public BusTest {
  protected:
    void emitPrepareForSleep(bool start) {
        test::Reply reply = test::callAndWait(
            *probe,
            DBusObject{"org.freedesktop.login1", "/org/freedesktop/login1",
                       "org.freedesktop.DBus.Mock"},
            "EmitSignal", [start](sd_bus_message* m) {
                return sd_bus_message_append(m, "sssav", "org.freedesktop.login1.Manager",
                                             "PrepareForSleep", "b", 1, "b", start ? 1 : 0);
            });
        ASSERT_TRUE(reply);
        EXPECT_FALSE(DBusConnection::errorOf(reply.get()));
    }
    bool delayLockIsHeld() {
        const auto inhibitors = logindInhibitors();
        return inhibitors ==
               std::vector<test::LogindInhibitor>{
                   {"sleep", "Orvel", "Orvel finishes its sleep work first", "delay"}};
    }

    SimProcesses processes;
};

TEST_F(LinuxWorkspaceSleepTest, SleepWorkIsDoneWhileTheDelayLockHoldsLogindBack) {
    startService("logind");
    LinuxWorkspace workspace(system, processes);
    std::vector<std::string> events;
    SubscriptionBag bag;
    bag.push_back(workspace.willSleep.subscribe([&] {
        events.push_back(workspace.holdsSleepDelay() ? "willSleep with the lock" : "willSleep");
    }));
    bag.push_back(workspace.didWake.subscribe([&] { events.push_back("didWake"); }));
    ASSERT_TRUE(waitFor([&] { return workspace.holdsSleepDelay(); }));
    EXPECT_TRUE(eventually([&] { return delayLockIsHeld(); }));

    emitPrepareForSleep(true);
    ASSERT_TRUE(waitFor([&] { return !events.empty(); }));
    EXPECT_FALSE(workspace.holdsSleepDelay());
    EXPECT_TRUE(waitUntilNothingHeld()) << "the lock goes as soon as the sleep work is done";

    emitPrepareForSleep(false);
    ASSERT_TRUE(waitFor([&] { return events.size() == 2; }));
    EXPECT_EQ(events, (std::vector<std::string>{"willSleep with the lock", "didWake"}));
    EXPECT_TRUE(waitFor([&] { return workspace.holdsSleepDelay(); }));
    EXPECT_TRUE(eventually([&] { return delayLockIsHeld(); }));
}

TEST_F(LinuxWorkspaceSleepTest, WithoutLogindSleepNoticesAreUnavailableAndSaidOnce) {
    LinuxWorkspace workspace(system, processes);
    ASSERT_TRUE(waitFor([&] { return system->namesKnown(); }));
    EXPECT_FALSE(workspace.holdsSleepDelay());
    EXPECT_EQ(log->messages("workspace"),
              (std::vector<std::string>{
                  "Sleep and wake notices are not available on this system (no logind)."}));

    // logind that comes later is used.
    startService("logind");
    EXPECT_TRUE(waitFor([&] { return workspace.holdsSleepDelay(); }));
}

}  // namespace
}  // namespace orvel
