// The cost of one reading of LinuxWorkspace's launch watch, against a /proc of 400 processes and
// a data folder of 300 desktop entries built in a temporary folder: the median and the slowest of
// N readings when nothing has changed, and when one new process has appeared before each reading.
//
// Usage: orvel_bench_launch_watch [READINGS]

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Figures.h"
#include "foundation/Log.h"
#include "foundation/VirtualRunLoop.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/sim/SimProcesses.h"

extern char** environ;

using namespace orvel;
using bench::Figures;
using bench::summarise;
namespace fs = std::filesystem;

namespace {

constexpr int kProcesses = 400;
constexpr int kEntries = 300;
constexpr int kApplications = 40;  // of the processes, those a desktop entry launches
constexpr long kUser = 1000;
constexpr double kInterval = 5.0;

class QuietSink final : public LogSink {
  public:
    bool isEnabled(LogLevel, std::string_view) const override { return false; }
    void write(const LogRecord&) override {}
};

struct Fixture {
    fs::path root;
    std::vector<pid_t> children;  // real processes behind the applications' pids

    fs::path proc() const { return root / "proc"; }
    fs::path applications() const { return root / "share/applications"; }

    // A process as /proc shows it; an empty command line is a kernel thread's.
    void addProcess(pid_t pid, pid_t parent, long uid, const std::string& executable,
                    const std::vector<std::string>& arguments, bool graphical, int tty) {
        const fs::path folder = proc() / std::to_string(pid);
        fs::create_directories(folder);
        const std::string name = fs::path(executable).filename().string();
        std::ofstream(folder / "stat") << pid << " (" << name << ") S " << parent << " " << pid
                                       << " " << pid << " " << tty << " -1 4194304 0 0 0 0 0 0 0 0 "
                                       << "20 0 1 0 " << 1000 + pid << " 0 0\n";
        std::ofstream(folder / "status")
            << "Name:\t" << name << "\nPid:\t" << pid << "\nPPid:\t" << parent << "\nUid:\t" << uid
            << "\t" << uid << "\t" << uid << "\t" << uid << "\n";
        std::ofstream cmdline(folder / "cmdline", std::ios::binary);
        for (const auto& argument : arguments) {
            cmdline << argument << '\0';
        }
        std::ofstream environment(folder / "environ", std::ios::binary);
        environment << "HOME=/home/user" << '\0' << "LANG=C.UTF-8" << '\0';
        if (graphical) {
            environment << "DISPLAY=:0" << '\0';
        }
        if (!arguments.empty()) {
            fs::create_symlink(executable, folder / "exe");
        }
    }

    // A real process, so that the workspace can watch its exit as it would a launched one.
    pid_t startChild() {
        char sleepProgram[] = "/bin/sleep";
        char seconds[] = "600";
        char* argv[] = {sleepProgram, seconds, nullptr};
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
            std::fprintf(stderr, "could not start %s\n", argv[0]);
            std::exit(1);
        }
        children.push_back(pid);
        return pid;
    }

    void addApplication(int index) {
        const std::string program = "/usr/bin/program-" + std::to_string(index % kEntries);
        addProcess(startChild(), 1, kUser, program, {program, "--new-window"}, true, 0);
    }

    void build() {
        fs::create_directories(applications());
        for (int i = 0; i < kEntries; ++i) {
            std::ofstream(applications() / ("org.example.Program" + std::to_string(i) + ".desktop"))
                << "[Desktop Entry]\nType=Application\nName=Program " << i << "\nName[de]=Programm "
                << i << "\nComment=One of many\n"
                << "Exec=/usr/bin/program-" << i << " %U\nIcon=program-" << i
                << "\nCategories=Utility;\n\n[Desktop Action new-window]\nName=New Window\n"
                << "Exec=/usr/bin/program-" << i << " --new-window\n";
        }
        // Far above real pids, so that none of them is watched by mistake.
        pid_t next = 3'900'000;
        int made = 0;
        for (int i = 0; i < kApplications; ++i, ++made) {
            addApplication(i);
        }
        for (int i = 0; i < 20; ++i, ++made) {  // helpers of an application
            const std::string program = "/usr/bin/program-" + std::to_string(i);
            addProcess(next++, children[static_cast<std::size_t>(i)], kUser, program,
                       {program, "--type=renderer"}, true, 0);
        }
        for (int i = 0; i < 60; ++i, ++made) {  // the user's shells and services
            addProcess(next++, 1, kUser, "/usr/bin/bash", {"bash"}, i % 2 == 0, i % 2 ? 0 : 34816);
        }
        for (int i = 0; i < 60; ++i, ++made) {  // kernel threads
            addProcess(next++, 2, 0, "", {}, false, 0);
        }
        while (made < kProcesses) {  // other users' processes
            addProcess(next++, 1, made % 3, "/usr/sbin/daemon-" + std::to_string(made),
                       {"/usr/sbin/daemon-" + std::to_string(made)}, false, 0);
            ++made;
        }
    }

    ~Fixture() {
        for (pid_t pid : children) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int readings = argc > 1 ? std::max(1, std::atoi(argv[1])) : 101;
    installLogSink(std::make_shared<QuietSink>());
    auto ownedLoop = std::make_unique<VirtualRunLoop>();
    VirtualRunLoop& loop = *ownedLoop;
    RunLoop::install(std::move(ownedLoop));

    Fixture fixture;
    fixture.root = fs::temp_directory_path() / ("orvel-bench-launch-" + std::to_string(getpid()));
    fixture.build();

    SimProcesses processes;
    LinuxWorkspaceOptions options;
    options.procRoot = fixture.proc().string();
    options.applicationFolders = {fixture.applications().string()};
    options.user = kUser;
    options.launchInterval = kInterval;
    std::size_t launched = 0;
    {
        LinuxWorkspace workspace(nullptr, processes, options);
        Subscription subscription = workspace.didLaunchApplication.subscribe(
            [&](const RunningApplication&) { ++launched; });
        // One reading: the watch's timer falls due once.
        const auto reading = [&] {
            const auto start = std::chrono::steady_clock::now();
            loop.advance(kInterval);
            const auto end = std::chrono::steady_clock::now();
            return std::chrono::duration<double, std::micro>(end - start).count();
        };
        reading();  // the first reading after subscribing is the baseline

        std::vector<double> unchanged;
        for (int i = 0; i < readings; ++i) {
            unchanged.push_back(reading());
        }
        std::vector<double> oneNew;
        for (int i = 0; i < readings; ++i) {
            fixture.addApplication(kApplications + i);
            oneNew.push_back(reading());
        }
        const auto quiet = summarise(unchanged);
        const auto busy = summarise(oneNew);
        std::printf("launch watch: %d processes, %d desktop entries, %d readings each\n",
                    kProcesses, kEntries, readings);
        std::printf("  nothing changed:  median %8.0f us   max %8.0f us\n", quiet.median,
                    quiet.max);
        std::printf("  one new process:  median %8.0f us   max %8.0f us\n", busy.median, busy.max);
    }
    std::printf("  launches reported: %zu (expected %d)\n", launched, readings);
    RunLoop::install(nullptr);
    return launched == static_cast<std::size_t>(readings) ? 0 : 1;
}
