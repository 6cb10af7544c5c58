#include "platform/linux/LinuxWorkspace.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "foundation/VirtualRunLoop.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/sim/SimProcesses.h"
#include "support/BusTest.h"
#include "support/Catalogues.h"
#include "support/PropertyValuePrinter.h"
#include "support/RealThings.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;
using test::BusTest;
using test::loop;
using test::waitFor;

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
    // A copy of sleep of this test's own, so that no other test's sleep is taken for it.
    std::string sleeper() {
        const fs::path copy = folder / "orvel-sleeper";
        if (!fs::exists(copy)) {
            fs::copy_file("/bin/sleep", copy);
            fs::permissions(copy, fs::perms::owner_all);
        }
        return copy.string();
    }
    // A desktop entry for that sleep, so sleeping children count as applications.
    LinuxWorkspaceOptions sleepIsAnApplication() {
        std::ofstream(folder / "applications/org.example.Sleeper.desktop")
            << "[Desktop Entry]\nType=Application\nName=Sleeper\nExec=" << sleeper() << " 600\n";
        LinuxWorkspaceOptions options;
        options.applicationFolders = {(folder / "applications").string()};
        return options;
    }
    pid_t startSleeper() {
        const pid_t pid = test::spawn({sleeper(), "600"}, {}, "");
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
    options.procRoot = test::kTestData + "/proc";
    options.applicationFolders = {test::kTestData + "/xdg/local/applications",
                                  test::kTestData + "/xdg/system/applications"};
    options.user = 1000;
    LinuxWorkspace workspace(nullptr, processes, options);
    using enum ActivationPolicy;
    const std::string local = test::kTestData + "/xdg/local/applications/";
    const std::string system = test::kTestData + "/xdg/system/applications/";
    const std::vector<RunningApplication> expected = {
        // The local entry wins over the system one with the same id; "env VAR=…" is skipped.
        {4200001, "firefox-esr", "My Firefox", regular, local + "firefox-esr.desktop"},
        // A script is known by its name, not its interpreter's.
        {4200003, "org.gnome.Meld", "Meld", regular, system + "org.gnome.Meld.desktop"},
        // No entry, but in the graphical session without a terminal.
        {4200006, "tool-gui", "tool-gui", accessory},
        // An entry in a subfolder: its id has a dash for the slash.
        {4200009, "kde-org.kde.dolphin", "Dolphin", regular,
         system + "kde/org.kde.dolphin.desktop"},
        {4200010, "org.gnome.Evolution-alarm-notify", "Evolution Alarm Notify", accessory,
         system + "org.gnome.Evolution-alarm-notify.desktop"},
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
    EXPECT_EQ(it->bundleURL, (folder / "applications/org.example.Sleeper.desktop").string());
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

// An application and its settings launcher run one program: a launch goes by both entries, by the
// one the launcher named first (or, unnamed, the one whose arguments it runs with), whichever
// sorts first; so a rule made with either hears of it.
TEST_F(LinuxWorkspaceTest, ALaunchGoesByEveryEntryThatRunsItsProgram) {
    auto options = sleepIsAnApplication();
    const fs::path settings = folder / "applications/org.example.Sleeper-settings.desktop";
    std::ofstream(settings) << "[Desktop Entry]\nType=Application\nName=Sleeper Settings\nExec="
                            << sleeper() << " --preferences\n";
    options.launchInterval = 0.02;
    LinuxWorkspace workspace(nullptr, processes, options);
    workspace.setLaunchInterest(std::set<std::string>{"org.example.Sleeper"});
    std::vector<RunningApplication> launched;
    Subscription subscription = workspace.didLaunchApplication.subscribe(
        [&](const RunningApplication& app) { launched.push_back(app); });
    const auto fired = loop().timersFired();
    ASSERT_TRUE(waitFor([&] { return loop().timersFired() > fired; }));

    const pid_t plain = startSleeper();
    // As a launcher starts the settings entry: naming the entry and the pid it starts.
    const pid_t named =
        test::spawn({"/bin/sh", "-c",
                     "export GIO_LAUNCHED_DESKTOP_FILE=" + settings.string() +
                         " GIO_LAUNCHED_DESKTOP_FILE_PID=$$; exec " + sleeper() + " 600"},
                    {}, "");
    children.push_back(named);
    const auto find = [&](pid_t pid) {
        return std::find_if(launched.begin(), launched.end(),
                            [&](const auto& app) { return app.processIdentifier == pid; });
    };
    ASSERT_TRUE(
        waitFor([&] { return find(plain) != launched.end() && find(named) != launched.end(); }));
    EXPECT_EQ(find(plain)->bundleIdentifier, "org.example.Sleeper");
    EXPECT_EQ(find(plain)->otherBundleIdentifiers,
              std::vector<std::string>{"org.example.Sleeper-settings"});
    EXPECT_EQ(find(named)->bundleIdentifier, "org.example.Sleeper-settings");
    EXPECT_EQ(find(named)->otherBundleIdentifiers, std::vector<std::string>{"org.example.Sleeper"});
    const auto known = workspace.runningApplicationsKnownAs({"org.example.Sleeper-settings"});
    EXPECT_EQ(std::count_if(known.begin(), known.end(),
                            [&](const auto& app) {
                                return app.processIdentifier == plain ||
                                       app.processIdentifier == named;
                            }),
              2);
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

TEST_F(LinuxWorkspaceTest, PrivacyAnchorsOpenTheDesktopsOwnSettingsPanel) {
    // Stand-ins for the desktops' settings programs: each writes how it was started.
    const fs::path bin = folder / "bin";
    fs::create_directories(bin);
    for (const char* program : {"gnome-control-center", "systemsettings"}) {
        const std::string ran = (folder / "ran").string();
        std::ofstream(bin / program)
            << "#!/bin/sh\necho \"" << program << " $*\" > \"" << ran << ".tmp\" && /bin/mv \""
            << ran << ".tmp\" \"" << ran << "\"\n";
        fs::permissions(bin / program, fs::perms::owner_all);
    }
    const char* previousPath = std::getenv("PATH");
    const std::string savedPath = previousPath ? previousPath : "";
    ::setenv("PATH", bin.c_str(), 1);
    // A file appearing wakes no loop: a tick looks again.
    const Timer look = RunLoop::main().every(0.02, [] {});
    struct Case {
        const char* desktop;
        const char* anchor;
        const char* ran;  // null: nothing opens
    };
    const Case cases[] = {
        {"GNOME", "Privacy_LocationServices", "gnome-control-center location"},
        {"ubuntu:GNOME", "Privacy_Bluetooth", "gnome-control-center bluetooth"},
        {"KDE", "Notifications", "systemsettings kcm_notifications"},
        {"KDE", "Privacy_LocationServices", nullptr},
        {"XFCE", "Privacy_Bluetooth", nullptr},
        {"GNOME", "Privacy_Unknown", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.desktop) + " " + c.anchor);
        fs::remove(folder / "ran");
        LinuxWorkspaceOptions options;
        options.desktop = c.desktop;
        LinuxWorkspace workspace(nullptr, processes, options);
        const auto opened = workspace.openSettingsPanel(c.anchor);
        EXPECT_EQ(opened.ok(), c.ran != nullptr);
        if (c.ran != nullptr) {
            ASSERT_TRUE(waitFor([&] { return fs::exists(folder / "ran"); }));
            std::ifstream in(folder / "ran");
            std::string line;
            std::getline(in, line);
            EXPECT_EQ(line, c.ran);
        }
    }
    fs::remove(bin / "gnome-control-center");
    LinuxWorkspaceOptions gnome;
    gnome.desktop = "GNOME";
    const auto missing =
        LinuxWorkspace(nullptr, processes, gnome).openSettingsPanel("Privacy_Bluetooth");
    ::setenv("PATH", savedPath.c_str(), 1);
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().message.find("gnome-control-center"), std::string::npos);
}

TEST_F(LinuxWorkspaceTest, OpeningAnApplicationRunsItsEntryAndCompletesWithItsProcess) {
    // The test's own copy of sleep, so that no other sleep of the machine is taken for this one;
    // the field codes go.
    std::ofstream(folder / "applications/org.example.Napper.desktop")
        << "[Desktop Entry]\nType=Application\nName=Napper\nExec=" << sleeper()
        << " %U 613.25 %f\n";
    LinuxWorkspaceOptions options;
    options.applicationFolders = {(folder / "applications").string()};
    LinuxWorkspace workspace(nullptr, processes, options);
    std::vector<RunningApplication> terminated;
    Subscription subscription = workspace.didTerminateApplication.subscribe(
        [&](const RunningApplication& app) { terminated.push_back(app); });

    // Started as the installed applications list it, read on a worker thread.
    std::optional<std::vector<InstalledApplication>> listed;
    workspace.installedApplications(
        [&](std::vector<InstalledApplication> apps) { listed = std::move(apps); });
    EXPECT_FALSE(listed) << "never before it returns";
    ASSERT_TRUE(waitFor([&] { return listed.has_value(); }));
    ASSERT_EQ(listed->size(), 1u);
    const std::string path = listed->front().url;
    EXPECT_EQ(path, (folder / "applications/org.example.Napper.desktop").string());
    std::optional<Result<RunningApplication>> opened;
    workspace.openApplication(path, [&](Result<RunningApplication> r) { opened = std::move(r); });
    EXPECT_FALSE(opened) << "never completes before it returns";
    ASSERT_TRUE(waitFor([&] { return opened.has_value(); }));
    ASSERT_TRUE(opened->ok()) << opened->error().message;
    const RunningApplication app = opened->value();
    children.push_back(app.processIdentifier);
    EXPECT_EQ(app.bundleIdentifier, "org.example.Napper");
    EXPECT_EQ(app.localizedName, "Napper");
    EXPECT_EQ(app.bundleURL, path);
    std::ifstream cmdline("/proc/" + std::to_string(app.processIdentifier) + "/cmdline");
    const std::string arguments((std::istreambuf_iterator<char>(cmdline)),
                                std::istreambuf_iterator<char>());
    EXPECT_EQ(arguments, sleeper() + '\0' + "613.25" + '\0');

    ::kill(app.processIdentifier, SIGTERM);
    ASSERT_TRUE(waitFor([&] {
        return std::any_of(terminated.begin(), terminated.end(), [&](const auto& ended) {
            return ended.processIdentifier == app.processIdentifier;
        });
    })) << "its exit is watched";
}

TEST_F(LinuxWorkspaceTest, AnApplicationThatCannotBeOpenedSaysWhy) {
    struct Case {
        const char* file;
        const char* entry;  // nullptr: no file at all
        std::string error;
    };
    const Case cases[] = {
        {"org.example.Gone.desktop", nullptr,
         "No application is installed at " +
             (folder / "applications/org.example.Gone.desktop").string() + "."},
        {"org.example.Blank.desktop", "[Desktop Entry]\nType=Application\nName=Blank\n",
         "Blank cannot be started: its desktop entry has no command to run."},
        {"org.example.Codes.desktop", "[Desktop Entry]\nType=Application\nName=Codes\nExec=%U\n",
         "Codes cannot be started: its desktop entry has no command to run."},
        {"org.example.Missing.desktop",
         "[Desktop Entry]\nType=Application\nName=Missing\nExec=orvel-no-such-program --now\n",
         "Missing cannot be started: orvel-no-such-program is not installed."},
    };
    LinuxWorkspaceOptions options;
    options.applicationFolders = {(folder / "applications").string()};
    LinuxWorkspace workspace(nullptr, processes, options);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = (folder / "applications" / c.file).string();
        if (c.entry != nullptr) {
            std::ofstream(path) << c.entry;
        }
        std::optional<Result<RunningApplication>> opened;
        workspace.openApplication(path,
                                  [&](Result<RunningApplication> r) { opened = std::move(r); });
        ASSERT_TRUE(waitFor([&] { return opened.has_value(); }));
        ASSERT_FALSE(opened->ok());
        EXPECT_EQ(opened->error().message, c.error);
    }
    // The alert that shows why reads in the reader's language.
    const test::ScopedLanguage german(ORVEL_LOCALE, "de");
    std::optional<Result<RunningApplication>> opened;
    workspace.openApplication((folder / "applications/org.example.Missing.desktop").string(),
                              [&](Result<RunningApplication> r) { opened = std::move(r); });
    ASSERT_TRUE(waitFor([&] { return opened.has_value(); }));
    ASSERT_FALSE(opened->ok());
    EXPECT_EQ(opened->error().message,
              "Missing lässt sich nicht starten: orvel-no-such-program ist nicht installiert.");
}

TEST_F(LinuxWorkspaceTest, AnApplicationWhoseProcessNeverShowsFailsAfterTheTimeout) {
    // A wrapper that ends without ever running as the program its entry names.
    std::ofstream(folder / "applications/org.example.Blink.desktop")
        << "[Desktop Entry]\nType=Application\nName=Blink\nExec=/bin/sh -c \"exit 0\"\n";
    LinuxWorkspaceOptions options;
    options.applicationFolders = {(folder / "applications").string()};
    options.openTimeout = 0.3;
    LinuxWorkspace workspace(nullptr, processes, options);
    std::optional<Result<RunningApplication>> opened;
    workspace.openApplication((folder / "applications/org.example.Blink.desktop").string(),
                              [&](Result<RunningApplication> r) { opened = std::move(r); });
    ASSERT_TRUE(waitFor([&] { return opened.has_value(); }));
    ASSERT_FALSE(opened->ok());
    EXPECT_EQ(opened->error().message, "Blink did not start within 0.3 seconds.");
}

// The launch watch and the desktop entries against a /proc and a data folder of the test's own,
// on virtual time: each reading() is one look for launches. Applications are real children
// behind the fixture's pids, so that their exits are real too.
class LinuxWorkspaceReadingTest : public ::testing::Test {
  protected:
    static constexpr double kInterval = 5.0;
    static constexpr long kUser = 1000;

    struct Process {
        std::string executable;  // empty: a kernel thread
        std::vector<std::string> arguments;
        pid_t parent = 1;
        long uid = kUser;
        bool graphical = false;
        int tty = 0;
        std::uint64_t startTime = 0;  // 0: the pid
        std::string command;          // empty: the executable's name, cut as the kernel cuts it
    };

    void SetUp() override {
        auto owned = std::make_unique<VirtualRunLoop>();
        loop = owned.get();
        RunLoop::install(std::move(owned));
        previousSink = installLogSink(log);
        root = fs::path(::testing::TempDir()) /
               ("orvel-reading-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "proc");
        fs::create_directories(root / "applications");
    }
    void TearDown() override {
        listening.cancel();
        workspace.reset();
        for (pid_t pid : children) {
            ::kill(pid, SIGKILL);
            test::waitForExit(pid);
        }
        fs::remove_all(root);
        installLogSink(previousSink);
        RunLoop::install(nullptr);
    }

    LinuxWorkspace& makeWorkspace(std::vector<std::string> folders = {}) {
        LinuxWorkspaceOptions options;
        options.procRoot = (root / "proc").string();
        options.applicationFolders =
            folders.empty() ? std::vector<std::string>{(root / "applications").string()} : folders;
        options.user = kUser;
        options.launchInterval = kInterval;
        workspace = std::make_unique<LinuxWorkspace>(nullptr, processes, options);
        return *workspace;
    }
    void listen() {
        listening = workspace->didLaunchApplication.subscribe(
            [this](const RunningApplication& app) { launched.push_back(app); });
    }
    void reading() { loop->advance(kInterval); }

    static void writeEntry(const fs::path& file, const std::string& name, const std::string& exec) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "[Desktop Entry]\nType=Application\nName=" << name
                            << "\nExec=" << exec << "\n";
    }
    // Writes the process into the fixture's /proc; without a pid, a real child stands behind it.
    pid_t addProcess(const Process& p, pid_t pid = 0) {
        if (pid == 0) {
            pid = test::spawn({"/bin/sleep", "600"}, {}, "");
            children.push_back(pid);
        }
        const fs::path folder = root / "proc" / std::to_string(pid);
        fs::remove_all(folder);
        fs::create_directories(folder);
        const std::string name = fs::path(p.executable).filename().string();
        std::ofstream(folder / "stat")
            << pid << " (" << (p.command.empty() ? name.substr(0, 15) : p.command) << ") S "
            << p.parent << " " << pid << " " << pid << " " << p.tty
            << " -1 4194304 0 0 0 0 0 0 0 0 20 0 1 0 "
            << (p.startTime != 0 ? p.startTime : static_cast<std::uint64_t>(pid)) << " 0 0\n";
        std::ofstream(folder / "status") << "Name:\t" << name << "\nUid:\t" << p.uid << "\t"
                                         << p.uid << "\t" << p.uid << "\t" << p.uid << "\n";
        std::ofstream cmdline(folder / "cmdline", std::ios::binary);
        for (const auto& argument : p.arguments) {
            cmdline << argument << '\0';
        }
        std::ofstream(folder / "environ", std::ios::binary)
            << "HOME=/home/user" << '\0' << (p.graphical ? "WAYLAND_DISPLAY=wayland-0" : "")
            << '\0';
        if (!p.executable.empty()) {
            fs::create_symlink(p.executable, folder / "exe");
        }
        return pid;
    }
    // The desktop entry an application listed from the test's folder comes from.
    std::string entry(const std::string& id) const {
        return (root / "applications" / (id + ".desktop")).string();
    }
    static Process program(const std::string& executable, pid_t parent = 1) {
        return Process{executable, {executable}, parent};
    }
    // On a turn of its own: the queries of one turn share one reading.
    std::optional<RunningApplication> listed(pid_t pid) {
        loop->drain();
        const auto apps = workspace->runningApplications();
        const auto it = std::find_if(apps.begin(), apps.end(), [&](const RunningApplication& app) {
            return app.processIdentifier == pid;
        });
        return it == apps.end() ? std::nullopt : std::optional<RunningApplication>(*it);
    }

    VirtualRunLoop* loop = nullptr;
    fs::path root;
    std::vector<pid_t> children;
    SimProcesses processes;
    std::unique_ptr<LinuxWorkspace> workspace;
    std::vector<RunningApplication> launched;
    Subscription listening;
    std::shared_ptr<RecordingLogSink> log = std::make_shared<RecordingLogSink>();
    std::shared_ptr<LogSink> previousSink;
};

TEST_F(LinuxWorkspaceReadingTest, ADesktopEntryAddedAfterStartIsFoundAndOneRemovedIsForgotten) {
    struct Case {
        const char* where;
        fs::path file;  // below the test's folder
        std::string id;
    };
    const Case cases[] = {
        {"in a folder read at start", "applications/org.example.Sleeper.desktop",
         "org.example.Sleeper"},
        {"in a subfolder made after start", "applications/kde/sleeper.desktop", "kde-sleeper"},
        {"in a folder missing at start", "later/applications/org.example.Sleeper.desktop",
         "org.example.Sleeper"},
    };
    const pid_t pid = addProcess(program("/usr/bin/sleeper"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        fs::remove_all(root / "later");
        makeWorkspace({(root / "applications").string(), (root / "later/applications").string()});
        EXPECT_EQ(listed(pid), std::nullopt) << "no entry runs it yet";
        reading();
        EXPECT_EQ(listed(pid), std::nullopt);

        writeEntry(root / c.file, "Sleeper", "/usr/bin/sleeper --quiet");
        EXPECT_EQ(listed(pid), (RunningApplication{pid, c.id, "Sleeper", ActivationPolicy::regular,
                                                   (root / c.file).string()}));
        fs::remove(root / c.file);
        EXPECT_EQ(listed(pid), std::nullopt);
    }
    for (const auto& line : log->messages("workspace")) {
        EXPECT_EQ(line.find("Desktop entries"), std::string::npos) << "watched, not read again";
    }
}

TEST_F(LinuxWorkspaceReadingTest, TheQueriesOfOneTurnShareOneReading) {
    writeEntry(root / "applications/org.example.Editor.desktop", "Editor", "editor %F");
    makeWorkspace();
    const pid_t first = addProcess(program("/usr/bin/editor"), 4300001);
    EXPECT_EQ(workspace->runningApplications().size(), 1u);
    const pid_t second = addProcess(program("/usr/bin/editor"), 4300002);
    EXPECT_EQ(workspace->runningApplications().size(), 1u) << "the same turn: the same reading";
    EXPECT_TRUE(listed(first));
    EXPECT_TRUE(listed(second)) << "the next turn reads again";
}

// A launcher's word (GIO_LAUNCHED_DESKTOP_FILE with this very pid) beats matching the program, and
// of the entries that run it, the desktop's systemd unit names one; an entry whose TryExec is not
// installed is not shown, and one whose TryExec is names it too.
TEST_F(LinuxWorkspaceReadingTest, TheLaunchersEntryBeatsExecAndTryExecCounts) {
    writeEntry(root / "applications/org.example.Viewer.desktop", "Viewer", "/usr/bin/viewer");
    writeEntry(root / "applications/org.example.Viewer-settings.desktop", "Viewer Settings",
               "/usr/bin/viewer --settings");
    writeEntry(root / "applications/org.example.Other.desktop", "Other", "/usr/bin/other");
    std::ofstream(root / "applications/org.example.Missing.desktop")
        << "[Desktop Entry]\nType=Application\nName=Missing\nExec=/usr/bin/missingtool\n"
           "TryExec=/nonexistent/missingtool\n";
    std::ofstream(root / "applications/org.example.Wrapped.desktop")
        << "[Desktop Entry]\nType=Application\nName=Wrapped\nExec=wrapper-launch %U\n"
           "TryExec=/bin/sleep\n";
    makeWorkspace();
    const auto withLauncher = [&](pid_t pid, pid_t launcherPid) {
        std::ofstream(root / "proc" / std::to_string(pid) / "environ", std::ios::binary)
            << "GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/org.example.Other.desktop" << '\0'
            << "GIO_LAUNCHED_DESKTOP_FILE_PID=" << launcherPid << '\0';
    };
    const pid_t launchedOther = addProcess(program("/usr/bin/viewer"), 4300011);
    withLauncher(launchedOther, launchedOther);
    const pid_t inherited = addProcess(program("/usr/bin/viewer"), 4300012);
    withLauncher(inherited, launchedOther);
    const pid_t missing = addProcess(program("/usr/bin/missingtool"), 4300013);
    const pid_t wrapped = addProcess(program("/bin/sleep"), 4300014);
    const auto inUnit = [&](const char* unit) {
        const pid_t pid = addProcess(program("/usr/bin/viewer"));
        std::ofstream(root / "proc" / std::to_string(pid) / "cgroup")
            << "0::/user.slice/user-1000.slice/user@1000.service/app.slice/" << unit << "\n";
        return pid;
    };
    const pid_t settings =
        addProcess(Process{"/usr/bin/viewer", {"/usr/bin/viewer", "--settings"}}, 4300015);
    struct Case {
        pid_t pid;
        std::optional<std::string> id;
    };
    const Case cases[] = {
        {launchedOther, "org.example.Other"},
        {inherited, "org.example.Viewer"},  // inherited from the launched one: not its own
        {missing, std::nullopt},
        {wrapped, "org.example.Wrapped"},
        {settings, "org.example.Viewer-settings"},  // by its arguments
        {inUnit("app-gnome-org.example.Viewer\\x2dsettings-4321.scope"),
         "org.example.Viewer-settings"},
        {inUnit("app-org.example.Viewer\\x2dsettings@5f0c.service"), "org.example.Viewer-settings"},
        {inUnit("app-gnome-org.example.Other-99.scope"), "org.example.Viewer"},  // not its program
        {inUnit("vte-spawn-0a1b.scope"), "org.example.Viewer"},
    };
    for (const auto& c : cases) {
        const auto app = listed(c.pid);
        EXPECT_EQ(app ? app->bundleIdentifier : std::nullopt, c.id) << c.pid;
    }
}

TEST_F(LinuxWorkspaceReadingTest, BundlesAreDesktopEntriesOrBareExecutables) {
    std::ofstream(root / "applications/org.example.Tray.desktop")
        << "[Desktop Entry]\nType=Application\nName=Tray\nExec=tray\nNoDisplay=true\n";
    writeEntry(root / "applications/org.example.Editor.desktop", "Editor", "editor %F");
    std::ofstream(root / "applications/org.example.Link.desktop")
        << "[Desktop Entry]\nType=Link\nName=Link\nURL=https://example.org\n";
    makeWorkspace();
    const std::string apps = (root / "applications").string();
    struct Case {
        std::string url;
        std::optional<PropertyDictionary> info;
    };
    const Case cases[] = {
        {apps + "/org.example.Tray.desktop",
         PropertyDictionary{{"CFBundleIdentifier", "org.example.Tray"},
                            {"CFBundleName", "Tray"},
                            {"LSUIElement", true}}},
        {"file://" + apps + "/org.example.Editor.desktop",
         PropertyDictionary{{"CFBundleIdentifier", "org.example.Editor"},
                            {"CFBundleName", "Editor"},
                            {"LSUIElement", false}}},
        {"/bin/sleep", PropertyDictionary{{"CFBundleIdentifier", "sleep"},
                                          {"CFBundleName", "sleep"},
                                          {"LSBackgroundOnly", true}}},
        {apps + "/org.example.Link.desktop", std::nullopt},
        {apps + "/org.example.Gone.desktop", std::nullopt},
        {"relative/path.desktop", std::nullopt},
        {apps, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto bundle = workspace->bundle(c.url);
        EXPECT_EQ(bundle ? std::optional<PropertyDictionary>(bundle->info) : std::nullopt, c.info)
            << c.url;
    }
}

TEST_F(LinuxWorkspaceReadingTest, AProcessSeenOnceIsNotReportedAgain) {
    writeEntry(root / "applications/org.example.Editor.desktop", "Editor", "editor %F");
    const pid_t running = addProcess(program("/usr/bin/editor"));
    makeWorkspace();
    listen();
    reading();
    EXPECT_TRUE(launched.empty()) << "what runs at the first reading is the baseline";

    const pid_t started = addProcess(program("/usr/bin/editor"));
    for (int i = 0; i < 4; ++i) {
        reading();
    }
    EXPECT_EQ(launched, (std::vector<RunningApplication>{{started, "org.example.Editor", "Editor",
                                                          ActivationPolicy::regular,
                                                          entry("org.example.Editor")}}));
    EXPECT_NE(started, running);
}

TEST_F(LinuxWorkspaceReadingTest, AProcessSeenBeforeItsExecIsReportedOnceItRunsTheApplication) {
    writeEntry(root / "applications/org.example.Editor.desktop", "Editor", "editor %F");
    makeWorkspace();
    listen();
    reading();
    const pid_t started = addProcess(program("/bin/sh"));
    reading();
    EXPECT_TRUE(launched.empty()) << "a shell is no application";

    addProcess(program("/usr/bin/editor"), started);  // its exec
    for (int i = 0; i < 4; ++i) {
        reading();
    }
    EXPECT_EQ(launched, (std::vector<RunningApplication>{{started, "org.example.Editor", "Editor",
                                                          ActivationPolicy::regular,
                                                          entry("org.example.Editor")}}));

    const pid_t late = addProcess(program("/bin/sh"));
    loop->advance(60);
    addProcess(program("/usr/bin/editor"), late);
    reading();
    EXPECT_EQ(launched.size(), 1U) << "an old process is not read again";
}

TEST_F(LinuxWorkspaceReadingTest, TheLaunchWatchRunsOnlyWhileSomeoneListens) {
    writeEntry(root / "applications/org.example.Editor.desktop", "Editor", "editor %F");
    makeWorkspace();
    const auto idle = loop->timersFired();
    loop->advance(10 * kInterval);
    EXPECT_EQ(loop->timersFired(), idle) << "nobody listens: nothing wakes up";

    listen();
    reading();
    EXPECT_EQ(loop->timersFired(), idle + 1);
    // Readings for queries put the watch's own look off: it does not wake up while they come.
    for (int i = 0; i < 6; ++i) {
        listed(0);
        loop->advance(kInterval / 2);
    }
    EXPECT_EQ(loop->timersFired(), idle + 1);
    const pid_t first = addProcess(program("/usr/bin/editor"));
    reading();
    EXPECT_EQ(launched.size(), 1U);

    listening.cancel();
    const auto fired = loop->timersFired();
    loop->advance(10 * kInterval);
    EXPECT_EQ(loop->timersFired(), fired) << "the last listener gone, the watch stops";

    // A new listener starts from a baseline of its own: what runs now is not news to it.
    launched.clear();
    listen();
    const pid_t second = addProcess(program("/usr/bin/editor"));
    reading();
    EXPECT_TRUE(launched.empty());
    const pid_t third = addProcess(program("/usr/bin/editor"));
    reading();
    EXPECT_EQ(launched, (std::vector<RunningApplication>{{third, "org.example.Editor", "Editor",
                                                          ActivationPolicy::regular,
                                                          entry("org.example.Editor")}}));
    EXPECT_NE(first, second);
}

TEST_F(LinuxWorkspaceReadingTest, ANewProcessAfterManyKnownOnesIsReportedOnce) {
    writeEntry(root / "applications/org.example.Editor.desktop", "Editor", "editor %F");
    for (int i = 0; i < 10; ++i) {
        addProcess(program("/usr/bin/editor"));
    }
    // Far above real pids: the kernel's threads, the user's shells, other users' services.
    for (pid_t pid = 3'900'000; pid < 3'900'200; ++pid) {
        const int kind = pid % 3;
        Process p = kind == 0   ? Process{"", {}, 2, 0}
                    : kind == 1 ? Process{"/usr/bin/bash", {"bash"}, 1, kUser, false, 34816}
                                : Process{"/usr/sbin/daemon", {"daemon"}, 1, 0};
        addProcess(p, pid);
    }
    makeWorkspace();
    listen();
    reading();
    ASSERT_TRUE(launched.empty());

    const pid_t started = addProcess(program("/usr/bin/editor"));
    reading();
    reading();
    EXPECT_EQ(launched, (std::vector<RunningApplication>{{started, "org.example.Editor", "Editor",
                                                          ActivationPolicy::regular,
                                                          entry("org.example.Editor")}}));
}

// With a launch interest, a new process is read beyond its stat only when its kernel name (cut to
// 15 bytes, or an interpreter's) could be one of those applications; it is then taken as a full
// reading takes it.
TEST_F(LinuxWorkspaceReadingTest, ANewProcessIsTakenForAnApplicationAsAFullReadingTakesIt) {
    writeEntry(root / "applications/org.example.Editor.desktop", "Editor", "editor %F");
    writeEntry(root / "applications/org.example.Meld.desktop", "Meld", "meld");
    writeEntry(root / "applications/org.example.Monitor.desktop", "Monitor",
               "gnome-system-monitor-kde");
    std::ofstream(root / "applications/org.example.Tray.desktop")
        << "[Desktop Entry]\nType=Application\nName=Tray\nExec=tray\nNoDisplay=true\n";
    const pid_t editor = addProcess(program("/usr/bin/editor"));

    using enum ActivationPolicy;
    struct Case {
        const char* what;
        Process process;
        std::optional<RunningApplication> expected;  // its pid filled in
        bool passedOver = false;                     // left at its stat with an interest
    };
    const RunningApplication editorApp{0, "org.example.Editor", "Editor", regular,
                                       entry("org.example.Editor")};
    const RunningApplication meldApp{0, "org.example.Meld", "Meld", regular,
                                     entry("org.example.Meld")};
    const Case cases[] = {
        {"a program an entry runs", program("/usr/bin/editor"), editorApp},
        {"a hidden entry's program", program("/usr/bin/tray"),
         RunningApplication{0, "org.example.Tray", "Tray", accessory, entry("org.example.Tray")}},
        {"a program whose name the kernel cuts", program("/usr/bin/gnome-system-monitor-kde"),
         RunningApplication{0, "org.example.Monitor", "Monitor", regular,
                            entry("org.example.Monitor")}},
        {"a script run by an interpreter",
         Process{"/usr/bin/python3.11", {"python3", "/usr/bin/meld"}}, meldApp},
        {"a script run by its #! line",
         Process{"/usr/bin/python3.11",
                 {"/usr/bin/python3", "/usr/bin/meld"},
                 1,
                 kUser,
                 false,
                 0,
                 0,
                 "meld"},
         meldApp},
        {"a program in the graphical session",
         Process{"/opt/tool/tool-gui", {"tool-gui"}, 1, kUser, true},
         RunningApplication{0, "tool-gui", "tool-gui", accessory}},
        {"a process whose kernel name is none of theirs",
         Process{"/usr/bin/editor", {"editor"}, 1, kUser, false, 0, 0, "cc1plus"}, editorApp, true},
        {"a helper of a known application", program("/usr/bin/editor", editor), std::nullopt},
        {"a shell on a terminal", Process{"/usr/bin/bash", {"bash"}, 1, kUser, true, 34816},
         std::nullopt},
        {"another user's program", Process{"/usr/bin/editor", {"editor"}, 1, 1001}, std::nullopt},
        {"a kernel thread", Process{"", {}, 2, 0}, std::nullopt},
    };
    const std::set<std::string> interest{"org.example.Editor", "org.example.Tray",
                                         "org.example.Monitor", "org.example.Meld", "tool-gui"};
    for (const bool withInterest : {false, true}) {
        makeWorkspace();
        if (withInterest) {
            workspace->setLaunchInterest(interest);
        }
        listen();
        reading();
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (withInterest ? ", with an interest" : ""));
            launched.clear();
            const pid_t pid = addProcess(c.process);
            reading();
            std::vector<RunningApplication> expected;
            if (c.expected && !(withInterest && c.passedOver)) {
                expected.push_back(*c.expected);
                expected.back().processIdentifier = pid;
            }
            EXPECT_EQ(launched, expected);
            loop->drain();
            const auto among = workspace->runningApplicationsKnownAs(interest);
            EXPECT_EQ(std::count_if(among.begin(), among.end(),
                                    [&](const auto& app) { return app.processIdentifier == pid; }),
                      expected.size())
                << "the same as asking for those applications says";
        }
    }
}

// Where the kernel tells the last pid it handed out, a reading looks only at those handed out since
// the last one (a thread's is no process), until /proc is listed again a minute on.
TEST_F(LinuxWorkspaceReadingTest, AReadingLooksOnlyAtThePidsHandedOutSinceTheLast) {
    writeEntry(root / "applications/org.example.Editor.desktop", "Editor", "editor %F");
    const auto handedOut = [&](pid_t last) {
        std::ofstream(root / "proc/loadavg") << "0.10 0.20 0.30 1/400 " << last << "\n";
    };
    const pid_t started = addProcess(program("/usr/bin/editor"));
    const pid_t late = addProcess(program("/usr/bin/editor"));
    fs::remove_all(root / "proc" / std::to_string(started));
    fs::remove_all(root / "proc" / std::to_string(late));
    handedOut(started - 2);
    makeWorkspace();
    listen();
    reading();

    addProcess(program("/usr/bin/editor"), started);
    const pid_t thread = addProcess(program("/usr/bin/editor"), started - 1);
    std::ofstream(root / "proc" / std::to_string(thread) / "status", std::ios::app)
        << "Tgid:\t" << started << "\n";
    const pid_t unseen = addProcess(program("/usr/bin/editor"), 4300100);
    handedOut(started);
    reading();
    const RunningApplication editor{0, "org.example.Editor", "Editor", ActivationPolicy::regular,
                                    entry("org.example.Editor")};
    auto expected = std::vector<RunningApplication>{editor};
    expected[0].processIdentifier = started;
    EXPECT_EQ(launched, expected);

    handedOut(late);
    reading();
    addProcess(program("/usr/bin/editor"), late);
    reading();
    expected.push_back(editor);
    expected.back().processIdentifier = late;
    EXPECT_EQ(launched, expected) << "handed out a moment before it showed: looked at once more";

    loop->advance(60);
    expected.push_back(editor);
    expected.back().processIdentifier = unseen;
    EXPECT_EQ(launched, expected) << "found by the next listing";
}

TEST_F(LinuxWorkspaceReadingTest, AHelperStartedWithItsApplicationIsLeftOut) {
    writeEntry(root / "applications/org.example.Editor.desktop", "Editor", "editor %F");
    makeWorkspace();
    listen();
    reading();
    const pid_t application = addProcess(program("/usr/bin/editor"));
    addProcess(program("/usr/bin/editor", application));
    reading();
    EXPECT_EQ(launched, (std::vector<RunningApplication>{{application, "org.example.Editor",
                                                          "Editor", ActivationPolicy::regular,
                                                          entry("org.example.Editor")}}));
}

TEST_F(LinuxWorkspaceReadingTest, AnApplicationWhosePidIsTakenAgainIsReportedAgain) {
    writeEntry(root / "applications/org.example.Editor.desktop", "Editor", "editor %F");
    writeEntry(root / "applications/org.example.Viewer.desktop", "Viewer", "viewer");
    makeWorkspace();
    std::vector<std::string> events;
    SubscriptionBag bag;
    bag.push_back(workspace->didLaunchApplication.subscribe([&](const RunningApplication& app) {
        events.push_back("launched " + *app.localizedName);
    }));
    bag.push_back(workspace->didTerminateApplication.subscribe(
        [&](const RunningApplication& app) { events.push_back("ended " + *app.localizedName); }));
    reading();
    const pid_t pid = addProcess(program("/usr/bin/editor"));
    reading();
    ASSERT_EQ(events, std::vector<std::string>{"launched Editor"});

    // The real process ends; a later one with the same pid runs another program.
    ::kill(pid, SIGKILL);
    ASSERT_EQ(test::waitForExit(pid), 128 + SIGKILL);
    std::erase(children, pid);
    addProcess(program("/usr/bin/viewer"), pid);
    reading();
    // No real process stands behind the second one, so it is seen to end at once.
    EXPECT_EQ(events, (std::vector<std::string>{"launched Editor", "ended Editor",
                                                "launched Viewer", "ended Viewer"}));
}

// A reading opens only the processes it has not seen: what it knows stands as last read (here a
// process whose files have become unreadable), until a later reading finds its pid started anew.
TEST_F(LinuxWorkspaceReadingTest, AReadingOpensOnlyProcessesItHasNotSeenBefore) {
    writeEntry(root / "applications/org.example.Editor.desktop", "Editor", "editor %F");
    writeEntry(root / "applications/org.example.Viewer.desktop", "Viewer", "viewer");
    const pid_t editor = addProcess(program("/usr/bin/editor"));
    makeWorkspace();
    listen();
    ASSERT_TRUE(listed(editor));
    for (const char* file : {"stat", "status", "cmdline", "environ", "exe"}) {
        fs::remove(root / "proc" / std::to_string(editor) / file);
    }
    const pid_t viewer = addProcess(program("/usr/bin/viewer"));
    loop->advance(1);
    EXPECT_TRUE(listed(editor)) << "known: taken from the last reading";
    EXPECT_TRUE(listed(viewer)) << "new: read";
    loop->drain();
    EXPECT_EQ(launched, (std::vector<RunningApplication>{{viewer, "org.example.Viewer", "Viewer",
                                                          ActivationPolicy::regular,
                                                          entry("org.example.Viewer")}}))
        << "a launch the listing found is told at once, not at the launch watch's next look";
    reading();
    EXPECT_EQ(launched.size(), 1U) << "and only once";

    // Long after, with no reading since, another process holds the editor's pid.
    listening.cancel();
    loop->advance(60);
    Process later = program("/usr/bin/viewer");
    later.startTime = 99;
    addProcess(later, editor);
    const auto again = listed(editor);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->localizedName, "Viewer");
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
    Subscription listening = workspace.willSleep.subscribe([] {});
    startService("logind");
    EXPECT_TRUE(waitFor([&] { return workspace.holdsSleepDelay(); }));
}

TEST_F(LinuxWorkspaceSleepTest, TheDelayLockIsHeldOnlyWhileSomeoneListensForSleepOrWake) {
    startService("logind");
    LinuxWorkspace workspace(system, processes);
    ASSERT_TRUE(waitFor([&] { return system->namesKnown(); }));
    // A round trip to logind: a lock asked for by now would be listed after it.
    EXPECT_TRUE(logindInhibitors().empty()) << "nothing of Orvel before a service listens";
    EXPECT_FALSE(workspace.holdsSleepDelay());

    Subscription wake = workspace.didWake.subscribe([] {});
    EXPECT_TRUE(waitFor([&] { return workspace.holdsSleepDelay(); }));
    EXPECT_TRUE(eventually([&] { return delayLockIsHeld(); }));
    Subscription sleep = workspace.willSleep.subscribe([] {});
    wake.cancel();
    EXPECT_TRUE(workspace.holdsSleepDelay()) << "one listener is enough";

    sleep.cancel();
    EXPECT_FALSE(workspace.holdsSleepDelay());
    EXPECT_TRUE(waitUntilNothingHeld()) << "the last listener gone, the lock goes back";
}

}  // namespace
}  // namespace orvel
