// What the Settings and Help windows keep after they close: the whole program on the machine that
// `Orvel --simulate` runs on, with the Qt host under the offscreen platform, in a home of its
// own. Prints the resident memory before the first opening, after the first closing and after
// the last of N openings and closings of both windows, each measured once the give-back after a
// closing has run.
// The baseline is Orvel once it has started, with nothing drawn yet: the tray's menu opens
// Settings and Help without the panel. --panel-first opens and closes the panel before it.
// Usage: orvel_bench_window_memory [CYCLES] [--panel-first] [--mappings]   (default 50;
// --mappings: the mappings that grew the most)

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/SimulatedMachine.h"
#include "foundation/Registry.h"
#include "foundation/RunLoop.h"
#include "menubar/StatusItemController.h"
#include "ui/qt/MemoryGiveBack.h"
#include "ui/qt/QtShell.h"

using namespace orvel;

namespace {

// A field of /proc/self/status in KiB (VmRSS, RssAnon, RssFile), -1 when absent.
long statusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return -1;
}

// Resident KiB by what is mapped (a file's path, "[heap]", "[anon]" for nameless mappings),
// anonymous and file-backed apart.
struct Mapped {
    long anon = 0, file = 0;
};
using Mappings = std::map<std::string, Mapped>;

Mappings mappings() {
    std::ifstream file("/proc/self/smaps");
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    Mappings out;
    for (const ui::SmapsMapping& m : ui::parseSmaps(text)) {
        Mapped& entry = out[m.name.empty() ? "[anon]" : m.name];
        entry.anon += static_cast<long>(m.anonymousKiB);
        entry.file += static_cast<long>(m.residentKiB - m.anonymousKiB);
    }
    return out;
}

struct Resident {
    long total = 0, anon = 0, file = 0;
    Mappings mapped;
    static Resident now() {
        return {statusKiB("VmRSS"), statusKiB("RssAnon"), statusKiB("RssFile"), mappings()};
    }
};

// The mappings whose resident memory grew the most, for finding what a window keeps.
void printGrowth(const Resident& r, const Resident& base, std::size_t most) {
    std::vector<std::pair<long, std::string>> rows;
    for (const auto& [name, now] : r.mapped) {
        const auto old = base.mapped.find(name);
        const Mapped was = old == base.mapped.end() ? Mapped{} : old->second;
        const long growth = now.anon + now.file - was.anon - was.file;
        if (growth != 0) {
            rows.emplace_back(growth, name);
        }
    }
    std::sort(rows.rbegin(), rows.rend());
    for (std::size_t i = 0; i < rows.size() && i < most; ++i) {
        const auto& now = r.mapped.at(rows[i].second);
        std::printf("    %+7ld KiB (anonymous %6ld, file-backed %6ld)  %s\n", rows[i].first,
                    now.anon, now.file, rows[i].second.c_str());
    }
}

void print(const char* what, const Resident& r, const Resident& base) {
    std::printf("  RSS %-28s %6.1f MiB (%+5.1f; anonymous %+5.1f, file-backed %+5.1f)\n", what,
                r.total / 1024.0, (r.total - base.total) / 1024.0, (r.anon - base.anon) / 1024.0,
                (r.file - base.file) / 1024.0);
}

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

}  // namespace

int main(int argc, char** argv) {
    bool detail = false;
    bool panelFirst = false;
    int cycles = 50;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--mappings") {
            detail = true;
        } else if (arg == "--panel-first") {
            panelFirst = true;
        } else {
            cycles = std::max(1, std::atoi(argv[i]));
        }
    }
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

    Resident before, afterFirst, afterAll;
    double giveBackMs = 0;
    {
        ui::QtShell shell(argc, argv);
        Platform::install(std::make_unique<SimulatedMachine>());
        shell.installHost(ui::HostCapabilities::of(Platform::current()));
        {
            AppDelegate delegate;
            Steps steps;
            steps.add([&] {
                delegate.applicationDidFinishLaunching();
                // The offscreen platform has no tray: after the grace the panel would open as a
                // window in the middle of the cycles and be counted as what they keep.
                StatusItemController::current()->setTrayGrace(1e9);
            });
            // As the program does once it has started.
            steps.add([] { ui::giveBackMemorySoon(); });
            if (panelFirst) {
                steps.add([] { StatusItemController::current()->openPanel(); });
                steps.add([] { StatusItemController::current()->handleClick(std::nullopt); });
            }
            steps.add([&] { before = Resident::now(); }, settled);
            for (int i = 0; i < cycles; ++i) {
                steps.add([&] { delegate.openSettings(); });
                steps.add([&] { delegate.settingsWindow->close(); });
                steps.add([&] { delegate.showHelp(); });
                steps.add([&] { delegate.helpWindow->close(); });
                if (i == 0) {
                    steps.add([&] { afterFirst = Resident::now(); }, settled);
                }
            }
            steps.add([&] { afterAll = Resident::now(); }, settled);
            steps.add([&] {
                const double started = RunLoop::main().uptime();
                ui::giveBackMemory();
                giveBackMs = (RunLoop::main().uptime() - started) * 1000;
            });
            steps.run();
            delegate.applicationWillTerminate();
        }
        Registry::reset();
        ui::UiHost::install(nullptr);
        Platform::install(nullptr);
    }
    std::filesystem::remove_all(home);

    std::printf("== Settings and Help opened and closed %d times (offscreen Qt), %s\n", cycles,
                panelFirst ? "the panel seen first" : "nothing drawn first");
    print("before the first opening:", before, before);
    print("after the first closing:", afterFirst, before);
    print("after the last closing:", afterAll, before);
    std::printf("  one give-back took %.1f ms\n", giveBackMs);
    if (detail) {
        std::printf("  grown the most since before the first opening:\n");
        printGrowth(afterAll, before, 15);
    }
    return 0;
}
