// What the Settings and Help windows keep after they close: the whole program on the machine that
// `Orvel --simulate` runs on, with the Qt host under the offscreen platform, in a home of its
// own. Prints the private (anonymous) memory and the PSS before the first opening, after the
// first closing and after the last of N openings and closings of both windows, and what a cycle
// costs early on (cycles 2 to 11) and late (the last ten), each measured once the give-back after
// a closing has run; then the minor page faults and CPU time of a panel opening after a
// give-back, and the time one give-back takes.
// The baseline is Orvel once it has started, with nothing drawn yet: the tray's menu opens
// Settings and Help without the panel. --panel-first opens and closes the panel before it.
// With --stored-log N the settings file holds an activity log of N entries, as one of an older
// build or one edited by hand may: the baseline then shows what start-up keeps of it, and the
// CPU time of start-up and of a Settings tab switch (the settings write included) is printed.
// Usage: orvel_bench_window_memory [CYCLES] [--panel-first] [--mappings] [--stored-log N]
//   (default 50 cycles; --mappings: the mappings that grew the most)

#include <malloc.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/SimulatedMachine.h"
#include "app/compose/Services.h"
#include "core/ActivityLog.h"
#include "foundation/Registry.h"
#include "foundation/RunLoop.h"
#include "menubar/StatusItemController.h"
#include "platform/linux/FileUserDefaults.h"
#include "settings/SettingsView.h"
#include "ui/qt/MemoryGiveBack.h"
#include "ui/qt/QtShell.h"

using namespace orvel;

namespace {

// KiB of private (anonymous) memory and of PSS, by what is mapped (a file's path, "[heap]",
// "[anon]" for nameless mappings), from /proc/self/smaps.
struct Mapped {
    long anon = 0, pss = 0;
};
using Mappings = std::map<std::string, Mapped>;

Mappings mappings() {
    std::ifstream smaps("/proc/self/smaps");
    Mappings out;
    Mapped* current = nullptr;
    std::string line;
    while (std::getline(smaps, line)) {
        unsigned long start = 0, end = 0;
        int named = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx %*s %*s %*s %*s %n", &start, &end, &named) == 2 &&
            named > 0) {
            const std::string name = line.substr(static_cast<std::size_t>(named));
            current = &out[name.empty() ? "[anon]" : name];
        } else if (current != nullptr && line.rfind("Pss:", 0) == 0) {
            current->pss += std::stol(line.substr(4));
        } else if (current != nullptr && line.rfind("Anonymous:", 0) == 0) {
            current->anon += std::stol(line.substr(10));
        }
    }
    return out;
}

// A field of /proc/self/smaps_rollup in KiB.
long rollupKiB(const char* field) {
    std::ifstream rollup("/proc/self/smaps_rollup");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(rollup, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
            return std::stol(line.substr(length + 1));
        }
    }
    return -1;
}

struct Memory {
    long anon = 0, pss = 0;
    // What the allocator holds in use and free, all its arenas together.
    long heapInUse = 0, heapFree = 0;
    Mappings mapped;  // only with --mappings: keeping them is itself an allocation
    static Memory now(bool withMappings) {
        Memory m;
        const struct mallinfo2 heap = mallinfo2();
        m.heapInUse = static_cast<long>(heap.uordblks + heap.hblkhd) / 1024;
        m.heapFree = static_cast<long>(heap.fordblks) / 1024;
        m.anon = rollupKiB("Anonymous");
        m.pss = rollupKiB("Pss");
        if (withMappings) {
            m.mapped = mappings();
        }
        return m;
    }
};

// The mappings whose private memory and PSS grew the most, for finding what a window keeps.
void printGrowth(const Memory& m, const Memory& base, std::size_t most) {
    std::vector<std::pair<long, std::string>> rows;
    for (const auto& [name, now] : m.mapped) {
        const auto old = base.mapped.find(name);
        const Mapped was = old == base.mapped.end() ? Mapped{} : old->second;
        const long growth = std::max(now.anon - was.anon, now.pss - was.pss);
        if (growth != 0) {
            rows.emplace_back(growth, name);
        }
    }
    std::sort(rows.rbegin(), rows.rend());
    for (std::size_t i = 0; i < rows.size() && i < most; ++i) {
        const auto& now = m.mapped.at(rows[i].second);
        const auto old = base.mapped.find(rows[i].second);
        const Mapped was = old == base.mapped.end() ? Mapped{} : old->second;
        std::printf("    private %+6ld KiB, PSS %+6ld KiB  %s\n", now.anon - was.anon,
                    now.pss - was.pss, rows[i].second.c_str());
    }
}

void print(const char* what, const Memory& m, const Memory& base) {
    std::printf(
        "  %-28s private %6.2f MiB (%+6.2f), PSS %6.2f MiB (%+6.2f); allocated %6.2f MiB "
        "(%+6.2f), free in the heap %5.2f MiB\n",
        what, m.anon / 1024.0, (m.anon - base.anon) / 1024.0, m.pss / 1024.0,
        (m.pss - base.pss) / 1024.0, m.heapInUse / 1024.0, (m.heapInUse - base.heapInUse) / 1024.0,
        m.heapFree / 1024.0);
}

// What one cycle of several kept, on average.
void printPerCycle(const char* what, const Memory& from, const Memory& to, int cycles) {
    if (cycles > 0) {
        std::printf("  %-28s private %+6.1f KiB, PSS %+6.1f KiB, allocated %+6.1f KiB a cycle\n",
                    what, static_cast<double>(to.anon - from.anon) / cycles,
                    static_cast<double>(to.pss - from.pss) / cycles,
                    static_cast<double>(to.heapInUse - from.heapInUse) / cycles);
    }
}

struct Usage {
    long minorFaults = 0;
    double cpuMs = 0;
    static Usage now() {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return {u.ru_minflt, (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
                                 (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3};
    }
};

// Steps run by the program's own loop, a little apart, as a user's clicks are: what showing or
// closing a window queued (layouts, paints, widgets deleted later) runs in between.
class Steps {
  public:
    // A step a little after the one before, or `wait` seconds after it.
    void add(std::function<void()> step, double wait = 0.02) {
        steps_.push_back({std::move(step), wait});
    }
    void run() {
        next();
        RunLoop::main().run();
    }

  private:
    void next() {
        const double wait = index_ < steps_.size() ? steps_[index_].wait : 0.02;
        timer_ = RunLoop::main().after(wait, [this] {
            if (index_ == steps_.size()) {
                RunLoop::main().quit();
                return;
            }
            steps_[index_++].run();
            next();
        });
    }
    struct Step {
        std::function<void()> run;
        double wait;
    };
    std::vector<Step> steps_;
    std::size_t index_ = 0;
    Timer timer_;
};

// A settings file holding only an activity log of `count` entries, newest first, built as text
// so that the bench's own memory stays out of what it measures.
void writeStoredLog(const std::string& folder, long count) {
    std::string list = "[";
    for (long i = 0; i < count; ++i) {
        const ActivityEntry entry{
            UUID::random(), Date{800000000.0 - static_cast<double>(i) * 60.5},
            ActivityEntry::Kind::started,
            "Rule Office Wi-Fi " + std::to_string(i % 97) + " started a session",
            i % 3 != 0 ? "on AC power" : ""};
        list += (i == 0 ? "" : ",") + dumpJson(entry.toJson()).value();
    }
    list += "]";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/defaults.json") << FileUserDefaults::encode(
        {{ActivityLog::kDefaultsKey, DefaultsValue(dataFromString(list))}});
}

}  // namespace

int main(int argc, char** argv) {
    bool detail = false;
    bool panelFirst = false;
    long storedLog = -1;  // not given
    int cycles = 50;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--mappings") {
            detail = true;
        } else if (arg == "--panel-first") {
            panelFirst = true;
        } else if (arg == "--stored-log" && i + 1 < argc) {
            storedLog = std::max(0L, std::atol(argv[++i]));
        } else {
            cycles = std::max(1, std::atoi(argv[i]));
        }
    }
    // As the program does first.
    ui::returnLargeBlocksWhenFreed();
    // What a closing queued, then the give-back that follows it.
    const double settled = ui::kGiveBackDelaySeconds + 0.5;
    const std::string home = "/tmp/orvel-window-memory-" + std::to_string(::getpid());
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string data = home + "/data/Orvel/simulation";
    std::filesystem::create_directories(data);
    // The agreement is accepted already, so start-up runs through to the tray item.
    std::ofstream(data + "/eula-assent.json")
        << R"({"version":"1.0-draft","sha256":"","timestamp":0,"appVersion":"bench","build":"0",)"
           R"("scrolledToEnd":true})";

    if (storedLog > 0) {
        writeStoredLog(home + "/config/orvel/simulation", storedLog);
    }

    // Memory after the cycle of the same index (0 before the first).
    std::map<int, Memory> after;
    const int early = std::min(cycles, 11);
    const int late = std::max(early, cycles - 10);
    for (int i : {0, 1, early, late, cycles}) {
        after[i];  // made now, so that no measurement allocates between the cycles
    }
    Usage panelBefore, panelAfter;
    double giveBackMs = 0;
    double startCpuMs = 0;
    std::vector<double> switches;
    {
        ui::QtShell shell(argc, argv);
        Usage launch = Usage::now();
        Platform::install(std::make_unique<SimulatedMachine>());  // reads the settings file
        startCpuMs = Usage::now().cpuMs - launch.cpuMs;
        auto graph = std::make_unique<Services>(Platform::current());
        graph->receiveActivityEntries();
        shell.installHost(ui::HostCapabilities::of(Platform::current()));
        {
            AppDelegate delegate(*graph);
            Steps steps;
            steps.add([&] {
                launch = Usage::now();
                delegate.applicationDidFinishLaunching();
                startCpuMs += Usage::now().cpuMs - launch.cpuMs;
                // The offscreen platform has no tray: after the grace the panel would open as a
                // window in the middle of the cycles and be counted as what they keep.
                StatusItemController::current()->setTrayGrace(1e9);
            });
            // As the program does once it has started.
            steps.add([] { ui::giveBackMemorySoon(); });
            const auto openPanel = [] { StatusItemController::current()->openPanel(); };
            const auto closePanel = [] {
                StatusItemController::current()->handleClick(std::nullopt);
            };
            if (panelFirst) {
                steps.add(openPanel);
                steps.add(closePanel);
            }
            steps.add([&] { after[0] = Memory::now(detail); }, settled);
            for (int i = 1; i <= cycles; ++i) {
                steps.add([&] { delegate.openSettings(); });
                steps.add([&] { delegate.settingsWindow->close(); });
                steps.add([&] { delegate.showHelp(); });
                steps.add([&] { delegate.helpWindow->close(); });
                if (i == 1 || i == early || i == late || i == cycles) {
                    steps.add([&, i] { after[i] = Memory::now(detail); }, settled);
                }
            }
            if (storedLog >= 0) {
                steps.add([&] { delegate.openSettings(); });
                auto switchStarted = std::make_shared<Usage>();
                for (std::int64_t tab : {SettingsView::kAutomationsTab, SettingsView::kDevicesTab,
                                         SettingsView::kAdvancedTab, SettingsView::kGeneralTab}) {
                    steps.add(
                        [switchStarted, tab] {
                            *switchStarted = Usage::now();
                            Platform::current().userDefaults().setInteger(SettingsView::kTabKey,
                                                                          tab);
                        },
                        0.3);
                    steps.add([&switches, switchStarted] {
                        Platform::current().userDefaults().synchronize();
                        switches.push_back(Usage::now().cpuMs - switchStarted->cpuMs);
                    });
                }
                steps.add([&] { delegate.settingsWindow->close(); });
            }
            // The panel drawn once, then opened again after the give-back that its closing
            // brings, as a user opens it after a pause.
            steps.add(openPanel);
            steps.add(closePanel);
            steps.add(
                [&] {
                    panelBefore = Usage::now();
                    openPanel();
                },
                settled);
            steps.add([&] { panelAfter = Usage::now(); });
            steps.add(closePanel);
            steps.add(
                [&] {
                    const double started = RunLoop::main().uptime();
                    ui::giveBackMemory();
                    giveBackMs = (RunLoop::main().uptime() - started) * 1000;
                },
                settled);
            steps.run();
            delegate.applicationWillTerminate();
        }
        graph.reset();
        Registry::reset();
        ui::UiHost::install(nullptr);
        Platform::install(nullptr);
    }
    std::filesystem::remove_all(home);

    std::printf("== Settings and Help opened and closed %d times (offscreen Qt), %s\n", cycles,
                panelFirst ? "the panel seen first" : "nothing drawn first");
    const Memory& before = after[0];
    print("before the first opening:", before, before);
    print("after the first closing:", after[1], before);
    print("after the last closing:", after[cycles], before);
    printPerCycle(("cycles 2 to " + std::to_string(early) + ":").c_str(), after[1], after[early],
                  early - 1);
    printPerCycle(
        ("cycles " + std::to_string(late + 1) + " to " + std::to_string(cycles) + ":").c_str(),
        after[late], after[cycles], cycles - late);
    if (storedLog >= 0) {
        std::sort(switches.begin(), switches.end());
        std::printf(
            "  stored activity log of %ld entries: start-up %.0f ms CPU, a Settings tab "
            "switch %.1f ms CPU (median, its settings write included)\n",
            storedLog, startCpuMs, switches.empty() ? 0.0 : switches[switches.size() / 2]);
    }
    std::printf("  panel opened after a give-back: %ld minor page faults, %.1f ms CPU\n",
                panelAfter.minorFaults - panelBefore.minorFaults,
                panelAfter.cpuMs - panelBefore.cpuMs);
    std::printf("  one give-back took %.1f ms\n", giveBackMs);
    if (detail) {
        std::printf("  grown the most since the first closing:\n");
        printGrowth(after[cycles], after[1], 15);
    }
    return 0;
}
