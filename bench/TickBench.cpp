// The cost of Orvel's periodic work: the 5 s power tick of a machine that does not announce its
// power changes, which reads the power supplies through the real Linux backend (a sysfs tree, by
// default the laptop fixture of the tests), and the 1 s countdown of a timed session, which
// publishes the time left and redraws the tray item with the Qt host under the offscreen platform.
// Time is virtual, so each tick runs exactly its own work; the figures are microseconds of wall
// time per tick (median, 95th percentile, maximum). The last figure is the drawing of the tray
// picture, which only a new symbol or tint asks for.
//
// Usage: orvel_bench_ticks [sysfs root] [ticks]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Figures.h"
#include "app/compose/Services.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "foundation/Registry.h"
#include "foundation/VirtualRunLoop.h"
#include "menubar/StatusItemController.h"
#include "platform/linux/LinuxPowerSources.h"
#include "platform/sim/SimBackedPlatform.h"
#include "ui/qt/QtEnvironment.h"
#include "ui/qt/QtHost.h"
#include "ui/qt/QtNotifierStatusItem.h"
#include "ui/qt/QtStatusItem.h"

using namespace orvel;
using bench::Figures;
using bench::summarise;

namespace {

// The simulated machine with the real power-supply reader in place of the simulated one, without
// the kernel's events, so that the power tick runs.
class BenchPlatform final : public SimBackedPlatform {
  public:
    explicit BenchPlatform(std::string sysRoot)
        : powerSources_(std::move(sysRoot), nullptr, UniqueFd()) {}

    PowerSources& powerSources() override { return powerSources_; }

  private:
    LinuxPowerSources powerSources_;
};

// Microseconds of each of `count` runs of `step`.
template <class Step>
std::vector<double> time(int count, Step step) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        step();
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return samples;
}

void print(const char* what, const Figures& f) {
    std::printf("  %-44s median %8.1f us   p95 %8.1f us   max %8.1f us\n", what, f.median, f.p95,
                f.max);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string sysRoot =
        argc > 1 ? argv[1] : std::string(ORVEL_SOURCE_DIR) + "/tests/data/sysfs/laptop-on-ac";
    const int ticks = argc > 2 ? std::max(10, std::atoi(argv[2])) : 2000;

    // The tray is measured by hand below; the desktop's own bus stays out of it.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvel-bench/bus", 1);
    ui::QtEnvironment qt(argc, argv, /*offscreen=*/true);
    auto installed = std::make_unique<VirtualRunLoop>();
    VirtualRunLoop& loop = *installed;
    RunLoop::install(std::move(installed));
    Platform::install(std::make_unique<BenchPlatform>(sysRoot));
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    ui::UiHost::install(
        std::make_unique<ui::QtHost>(ui::HostCapabilities::of(Platform::current())));
    {
        auto statusItem = StatusItemController::make(graph->statusItemServices());
        OrvelController& controller = graph->controller();
        loop.drain();

        std::printf("Periodic work per tick, %d ticks, power supplies read from %s\n", ticks,
                    sysRoot.c_str());
        // A fresh reader each time: one reader shares a reading with whoever looks within a second.
        print("power-supply reading alone", summarise(time(ticks, [&] {
                  (void)LinuxPowerSources(sysRoot, nullptr, UniqueFd()).snapshot();
              })));
        // Idle: each 5 s of virtual time is one power tick and nothing else.
        print("power tick (idle)", summarise(time(ticks, [&] { loop.advance(5.0); })));

        controller.selectPreset(DurationPreset::h5);
        if (!controller.start()) {
            std::fprintf(stderr, "the session did not start\n");
            return 1;
        }
        loop.drain();
        // A timed session: each second is one countdown refresh and the tray drawn anew; every
        // fifth second also runs the power tick.
        std::vector<double> countdown;
        std::vector<double> both;
        for (int i = 1; i <= ticks; ++i) {
            const auto sample = time(1, [&] { loop.advance(1.0); }).front();
            (i % 5 == 0 ? both : countdown).push_back(sample);
        }
        print("countdown refresh (timed session)", summarise(countdown));
        print("countdown refresh + power tick", summarise(both));
        // The countdown never redraws the tray picture (it goes into the tool tip); the picture
        // is drawn when the symbol or its tint changes, here at the common tray size.
        print("tray picture drawn (a change of symbol or tint)", summarise(time(ticks, [&] {
                  loop.advance(1.0);
                  (void)ui::QtStatusItem::render(statusItem->currentLook(), ColorScheme::unknown,
                                                 22);
              })));
        // Where a StatusNotifierItem host draws the tray, a new countdown text is a new set of
        // the item's properties instead (the pictures are kept while the symbol stays).
        print("tray item properties, new countdown text", summarise(time(ticks, [&] {
                  loop.advance(1.0);
                  (void)ui::QtNotifierStatusItem::notifierLook(statusItem->currentLook());
              })));
        controller.stop(true);
    }
    graph.reset();
    Registry::reset();
    ui::UiHost::install(nullptr);
    Platform::install(nullptr);
    return 0;
}
