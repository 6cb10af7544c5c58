// The network and application rules on the real Linux readers: one evaluation of 50 network
// rules mixing every matcher against fixture roots (time and read/write system calls), one /proc
// scan of the workspace at this machine's process count and at 1,000 fixture processes, the
// background poll with 10 rules (how many scans it makes), and the timers the sources add while
// idle on virtual time.
//
// Usage: orvel_bench_network_apps [RUNS]

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Figures.h"
#include "app/compose/Services.h"
#include "foundation/Log.h"
#include "foundation/Registry.h"
#include "foundation/VirtualRunLoop.h"
#include "platform/linux/LinuxNetwork.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/sim/SimBackedPlatform.h"
#include "triggers/AppTriggerSource.h"
#include "triggers/NetworkTriggerSource.h"

using namespace orvel;
using bench::summarise;
namespace fs = std::filesystem;

namespace {

class QuietSink final : public LogSink {
  public:
    bool isEnabled(LogLevel, std::string_view) const override { return false; }
    void write(const LogRecord&) override {}
};

// Counts the readings of the running applications.
class CountingWorkspace final : public Workspace {
  public:
    explicit CountingWorkspace(Workspace& inner) : inner_(inner) {}
    std::vector<RunningApplication> runningApplications() override {
        ++scans;
        return inner_.runningApplications();
    }
    Result<void> openURL(std::string_view url) override { return inner_.openURL(url); }
    Result<void> openSettingsPanel(std::string_view anchor) override {
        return inner_.openSettingsPanel(anchor);
    }
    std::optional<ApplicationBundle> bundle(std::string_view url) override {
        return inner_.bundle(url);
    }
    std::vector<std::string> applicationFolders() override { return inner_.applicationFolders(); }
    void openApplication(std::string_view url, OpenCompletion completion) override {
        inner_.openApplication(url, std::move(completion));
    }
    void installedApplications(ApplicationsCompletion completion) override {
        inner_.installedApplications(std::move(completion));
    }
    int scans = 0;

  private:
    Workspace& inner_;
};

// The simulated machine with the Linux network and workspace readers in place.
class BenchPlatform final : public SimBackedPlatform {
  public:
    BenchPlatform(LinuxNetworkOptions network, LinuxWorkspaceOptions workspace)
        : network_(nullptr, std::move(network)),
          linuxWorkspace_(nullptr, sim_.processes(), std::move(workspace)),
          workspace_(linuxWorkspace_) {}

    CountingWorkspace& workspace() override { return workspace_; }
    LinuxNetwork& network() override { return network_; }
    std::shared_ptr<LogSink> logSink() override { return std::make_shared<QuietSink>(); }
    LinuxWorkspace& linuxWorkspace() { return linuxWorkspace_; }

  private:
    LinuxNetwork network_;
    LinuxWorkspace linuxWorkspace_;
    CountingWorkspace workspace_;
};

template <class Step>
std::vector<double> microseconds(int count, Step step) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        step();
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return samples;
}

// Read and write system calls made so far by this process.
long readWriteCalls() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long value = 0;
    long total = 0;
    while (io >> key >> value) {
        if (key == "syscr:" || key == "syscw:") {
            total += value;
        }
    }
    return total;
}

void print(const char* what, const std::vector<double>& samples) {
    const auto f = summarise(samples);
    std::printf("%-58s median %8.1f us  p95 %8.1f us  max %8.1f us\n", what, f.median, f.p95,
                f.max);
}

// A /proc of `count` processes of user 1000, every tenth one an application of an entry.
fs::path makeProc(const fs::path& root, int count) {
    const fs::path proc = root / "proc";
    fs::create_directories(root / "applications");
    for (int e = 0; e < 20; ++e) {
        std::ofstream(root / "applications" / ("org.example.App" + std::to_string(e) + ".desktop"))
            << "[Desktop Entry]\nType=Application\nName=App " << e << "\nExec=app" << e << "\n";
    }
    for (int i = 0; i < count; ++i) {
        const int pid = 100000 + i;
        const fs::path folder = proc / std::to_string(pid);
        fs::create_directories(folder);
        const std::string name = i % 10 == 0 ? "app" + std::to_string(i / 10 % 20) : "worker";
        std::ofstream(folder / "stat")
            << pid << " (" << name << ") S 1 " << pid << " " << pid
            << " 0 -1 4194304 0 0 0 0 0 0 0 0 20 0 1 0 " << pid << " 0 0\n";
        std::ofstream(folder / "status") << "Name:\t" << name << "\nUid:\t1000\t1000\t1000\t1000\n";
        std::ofstream(folder / "cmdline", std::ios::binary) << "/usr/bin/" << name << '\0';
        std::ofstream(folder / "environ", std::ios::binary) << "HOME=/home/user" << '\0';
        fs::create_symlink("/usr/bin/" + name, folder / "exe");
    }
    return proc;
}

TriggerRule networkRule(int i) {
    static const NetworkMatcher kinds[] = {
        NetworkMatcher::ssid("HomeNet"),           NetworkMatcher::ipv4Range("10.0.1.0/24"),
        NetworkMatcher::gateway("10.0.1.1"),       NetworkMatcher::searchDomain("example.com"),
        NetworkMatcher::interfaceType("ethernet"), NetworkMatcher::vpnConnected(),
    };
    TriggerRule rule;
    rule.name = "rule " + std::to_string(i);
    rule.source = i % 6 == 0 ? TriggerSource::wifiSSID : TriggerSource::network;
    rule.matcher = kinds[i % 6];
    return rule;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    installLogSink(std::make_shared<QuietSink>());
    const fs::path data = fs::path(ORVEL_SOURCE_DIR) / "tests/data/net/desk";
    const fs::path scratch =
        fs::temp_directory_path() / ("orvel-bench-net-" + std::to_string(getpid()));
    fs::remove_all(scratch);
    const fs::path fixtureProc = makeProc(scratch, 1000);

    auto ownedLoop = std::make_unique<VirtualRunLoop>();
    VirtualRunLoop& loop = *ownedLoop;
    RunLoop::install(std::move(ownedLoop));

    LinuxNetworkOptions network;
    network.procRoot = (data / "proc").string();
    network.sysRoot = (data / "sys").string();
    network.root = data.string();
    network.netlink = false;
    LinuxWorkspaceOptions real;
    auto owned = std::make_unique<BenchPlatform>(network, real);
    BenchPlatform& platform = *owned;
    Platform::install(std::move(owned));
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();

    // Network rules.
    std::vector<TriggerRule> rules;
    for (int i = 0; i < 50; ++i) {
        rules.push_back(networkRule(i));
    }
    NetworkTriggerSource& source = graph->networkSource();
    source.start(rules);
    const long callsBefore = readWriteCalls();
    print("evaluate, 50 network rules (fixture roots)",
          microseconds(runs, [&] { source.evaluate(); }));
    std::printf("%-58s %8.1f\n", "  read/write system calls per evaluation",
                static_cast<double>(readWriteCalls() - callsBefore) / runs);

    // Idle on virtual time: a minute with the network source running and no path change.
    auto fired = loop.timersFired();
    loop.advance(60);
    std::printf("%-58s %8llu\n", "timer firings per idle minute, network rules running",
                static_cast<unsigned long long>(loop.timersFired() - fired));
    source.stop();

    // /proc scans, each on a turn of its own.
    std::size_t processes = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        processes +=
            std::isdigit(static_cast<unsigned char>(entry.path().filename().string()[0])) ? 1 : 0;
    }
    const auto scan = [&](LinuxWorkspace& workspace) {
        loop.drain();
        (void)workspace.runningApplications();
    };
    char label[80];
    std::snprintf(label, sizeof label, "/proc scan, this machine (%zu processes)", processes);
    print(label, microseconds(std::max(1, runs / 10), [&] { scan(platform.linuxWorkspace()); }));
    {
        LinuxWorkspaceOptions fixture;
        fixture.procRoot = fixtureProc.string();
        fixture.applicationFolders = {(scratch / "applications").string()};
        fixture.user = 1000;
        LinuxWorkspace workspace(nullptr, platform.processes(), fixture);
        print("/proc scan, 1,000 fixture processes",
              microseconds(std::max(1, runs / 10), [&] { scan(workspace); }));
    }

    // The background poll: ten rules, one scan per poll.
    AppTriggerSource& apps = graph->appSource();
    std::vector<TriggerRule> appRules;
    for (int i = 0; i < 10; ++i) {
        TriggerRule rule;
        rule.name = "app " + std::to_string(i);
        rule.source = TriggerSource::app;
        rule.appBundleID = "org.example.Bench" + std::to_string(i);
        rule.watchBackground = true;
        appRules.push_back(rule);
    }
    apps.setRules(appRules);
    loop.drain();
    platform.workspace().scans = 0;
    fired = loop.timersFired();
    loop.advance(60);
    std::printf("%-58s %8.1f\n", "scans per background poll, 10 rules",
                static_cast<double>(platform.workspace().scans) / 20.0);
    std::printf("%-58s %8llu\n", "timer firings per idle minute, 10 background app rules",
                static_cast<unsigned long long>(loop.timersFired() - fired));
    for (auto& rule : appRules) {
        rule.watchBackground.reset();
    }
    apps.setRules(appRules);
    fired = loop.timersFired();
    loop.advance(60);
    std::printf("%-58s %8llu\n", "timer firings per idle minute, 10 app rules (notified)",
                static_cast<unsigned long long>(loop.timersFired() - fired));
    apps.clearRules();

    graph.reset();
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
    fs::remove_all(scratch);
    return 0;
}
