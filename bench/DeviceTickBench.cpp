// The half-second ticks that hold the built-in panel dark and the keyboard backlight off, on the
// real Linux readers over a copy of the test fixtures (an eDP panel beside an HDMI monitor, a
// two-step keyboard LED). Time is virtual, so each tick runs exactly its own work; the figures
// are microseconds of thread CPU time per tick (median, 95th percentile, maximum), with the level
// left where the tick wants it, so nothing is written.
//
// Usage: orvel_bench_device_ticks [ticks]

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Figures.h"
#include "app/compose/Services.h"
#include "devices/BuiltInDisplay.h"
#include "devices/KeyboardBacklight.h"
#include "foundation/Registry.h"
#include "foundation/VirtualRunLoop.h"
#include "platform/linux/LinuxDisplays.h"
#include "platform/linux/LinuxKeyboardBacklight.h"
#include "platform/sim/SimBackedPlatform.h"

using namespace orvel;

namespace {

namespace fs = std::filesystem;

class BenchPlatform final : public SimBackedPlatform {
  public:
    explicit BenchPlatform(const std::string& sysRoot) : displays_(sysRoot), keyboard_(sysRoot) {}
    Displays& displays() override { return displays_; }
    Backlight& backlight() override { return displays_; }
    KeyboardBacklightRoutes& keyboardBacklightRoutes() override { return keyboard_; }

  private:
    LinuxDisplays displays_;
    LinuxKeyboardBacklight keyboard_;
};

template <class Step>
std::vector<double> perTick(VirtualRunLoop& loop, int ticks, Step hold) {
    hold(true);
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(ticks));
    for (int i = 0; i < ticks; ++i) {
        samples.push_back(bench::micros([&] { loop.advance(0.5); }));
    }
    hold(false);
    return samples;
}

void print(const char* what, const bench::Figures& f) {
    std::printf("  %-36s median %7.1f us   p95 %7.1f us   max %7.1f us\n", what, f.median, f.p95,
                f.max);
}

}  // namespace

int main(int argc, char** argv) {
    const int ticks = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    const std::string root =
        fs::temp_directory_path().string() + "/orvel-bench-devices-" + std::to_string(::getpid());
    for (const char* fixture : {"display-intel", "kbd-leds-max2"}) {
        fs::copy(std::string(ORVEL_SOURCE_DIR) + "/tests/data/sysfs/" + fixture, root,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks |
                     fs::copy_options::overwrite_existing);
    }
    auto ownedLoop = std::make_unique<VirtualRunLoop>();
    VirtualRunLoop& loop = *ownedLoop;
    RunLoop::install(std::move(ownedLoop));
    Platform::install(std::make_unique<BenchPlatform>(root));
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();

    std::printf("Per 0.5 s tick, %d ticks, fixtures copied to %s:\n", ticks, root.c_str());
    print("built-in display held dark", bench::summarise(perTick(loop, ticks, [&](bool on) {
              graph->builtInDisplay().setDark(on);
          })));
    print("keyboard backlight held off", bench::summarise(perTick(loop, ticks, [&](bool on) {
              graph->keyboardBacklight().setOff(on);
          })));

    graph.reset();
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return 0;
}
