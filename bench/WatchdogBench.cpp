// The device state's external-input watchdog on the simulated machine: wake-ups it adds per
// minute of virtual time with nothing blocked and while the built-in input is blocked, and the
// thread CPU time of one recount.
//
// Usage: orvel_bench_watchdog [minutes]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "Figures.h"
#include "QuietSimulator.h"
#include "app/compose/Services.h"
#include "core/Preferences.h"
#include "devices/DeviceState.h"
#include "devices/InputBlocker.h"
#include "devices/PermissionPrimer.h"
#include "foundation/Registry.h"

using namespace orvel;

namespace {

HidDevice device(const char* product, bool builtIn, HidUsage usage) {
    HidDevice d;
    d.product = product;
    d.transport = builtIn ? "I2C" : "USB";
    d.builtIn = builtIn;
    d.vendorId = 1;
    d.usages = {usage};
    return d;
}

double wakeupsPerMinute(VirtualRunLoop& loop, int minutes) {
    const auto before = loop.timersFired();
    loop.advance(60.0 * minutes);
    return static_cast<double>(loop.timersFired() - before) / minutes;
}

}  // namespace

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const bench::Simulator simulator = bench::installQuietSimulator();
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    VirtualRunLoop& loop = simulator.loop;
    SimPlatform& sim = simulator.sim;
    sim.permissions().setListenEvent(ListenEventAccess::granted);
    sim.permissions().setAccessibility(true);
    sim.userDefaults().setBool(PermissionPrimer::kExplainedKey, true);
    sim.hidDevices().attach(device("AT Keyboard", true, hid_usage::kKeyboard));
    sim.hidDevices().attach(device("Touchpad", true, hid_usage::kTouchPad));
    for (int i = 0; i < 4; ++i) {
        sim.hidDevices().attach(device("USB Mouse", false, hid_usage::kMouse));
    }
    Preferences& prefs = graph->preferences();
    prefs.tieDevicesToSession = false;
    prefs.hasConfirmedBlocking = true;
    graph->deviceState().reconcile();
    const double baseline = wakeupsPerMinute(loop, minutes);

    prefs.blockBuiltInKeyboard = true;
    prefs.blockBuiltInTrackpad = true;
    loop.drain();
    const bool blocking = graph->inputBlocker().isBlockingKeyboard();
    const double held = wakeupsPerMinute(loop, minutes);
    std::vector<double> ticks;
    for (int i = 0; i < 200; ++i) {
        ticks.push_back(bench::micros([&] { loop.advance(DeviceState::kWatchdogInterval); }));
    }
    const bench::Figures f = bench::summarise(ticks);

    std::printf("Watchdog over %d virtual minute(s), 6 input devices attached:\n", minutes);
    std::printf("  nothing blocked      %5.1f wake-ups/min\n", baseline);
    std::printf("  input blocked (%s)  %5.1f wake-ups/min\n", blocking ? "yes" : "no", held);
    std::printf("  one recount          median %6.1f us   p95 %6.1f us   max %6.1f us\n", f.median,
                f.p95, f.max);

    graph.reset();
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
    return 0;
}
