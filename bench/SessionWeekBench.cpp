// A simulated week of sessions on virtual time: starts, stops, ticks, sleeps, power changes and
// rule sessions, as a busy user's machine would see them. Prints the work done per simulated hour,
// the baseline to compare later changes against.

#include <chrono>
#include <cstdio>
#include <memory>

#include "QuietSimulator.h"
#include "app/compose/Services.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "foundation/Registry.h"
#include "foundation/VirtualRunLoop.h"
#include "menubar/StatusItemController.h"
#include "platform/sim/SimPlatform.h"
#include "ui/HeadlessHost.h"

using namespace orvel;

int main() {
    const bench::Simulator simulator = bench::installQuietSimulator();
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    VirtualRunLoop& loop = simulator.loop;
    SimPlatform& sim = simulator.sim;
    ui::UiHost::install(
        std::make_unique<ui::HeadlessHost>(ui::HostCapabilities::of(Platform::current())));

    const auto wallStart = std::chrono::steady_clock::now();
    {
        // Kept for the week: the item is current only while someone owns it.
        std::shared_ptr<StatusItemController> statusItem =
            StatusItemController::make(graph->statusItemServices());
        Preferences& prefs = graph->preferences();
        prefs.deactivateOnBattery = true;
        prefs.batteryOffAfterEnabled = true;
        prefs.batteryOffValue = 15;
        OrvelController& c = graph->controller();
        loop.drain();
        const auto firedAtStart = loop.timersFired();
        const auto writesAtStart = sim.userDefaults().writeCount();

        constexpr double kHour = 3600;
        double simulated = 0;
        auto pass = [&](double seconds) {
            loop.advance(seconds);
            simulated += seconds;
        };
        for (int day = 0; day < 7; ++day) {
            // Morning: a two-hour session, renewed once.
            c.selectPreset(DurationPreset::h2);
            c.start();
            pass(2 * kHour);
            c.start();
            pass(1.5 * kHour);
            c.stop(true);
            // Lunch: an untimed session across an hour of sleep.
            c.selectPreset(DurationPreset::indefinite);
            c.start();
            pass(0.5 * kHour);
            sim.workspace().sleepFor(kHour);
            simulated += kHour;
            c.stop(true);
            // Afternoon: a rule's 30-minute session, a trip on battery, a meeting.
            c.startFromTrigger("Office", UUID::random(), 1800);
            pass(kHour);
            c.selectPreset(DurationPreset::h1);
            c.start();
            sim.powerSources().setOnAC(false);
            pass(0.5 * kHour);
            sim.powerSources().setOnAC(true);
            pass(kHour);
            // Evening and night: idle, asleep.
            pass(4 * kHour);
            sim.workspace().sleepFor(12.5 * kHour);
            simulated += 12.5 * kHour;
        }

        const double hours = simulated / kHour;
        const auto fired = loop.timersFired() - firedAtStart;
        const auto writes = sim.userDefaults().writeCount() - writesAtStart;
        const auto assertions =
            sim.powerAssertions().events(SimPowerAssertions::EventKind::Created).size();
        const double wallMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart)
                .count();
        std::printf("simulated: %.0f hours (one week)\n", hours);
        std::printf("timer firings:    %8llu  (%.1f per simulated hour)\n",
                    static_cast<unsigned long long>(fired), static_cast<double>(fired) / hours);
        std::printf("defaults writes:  %8llu  (%.2f per simulated hour)\n",
                    static_cast<unsigned long long>(writes), static_cast<double>(writes) / hours);
        std::printf("engine starts:    %8zu  (%.2f per simulated hour)\n", assertions,
                    static_cast<double>(assertions) / hours);
        std::printf("status refreshes: %8llu  (%.1f per simulated hour)\n",
                    static_cast<unsigned long long>(statusItem->refreshCount()),
                    static_cast<double>(statusItem->refreshCount()) / hours);
        std::printf("wall time:        %8.1f ms\n", wallMs);
        statusItem.reset();
        graph.reset();
        Registry::reset();
    }
    ui::UiHost::install(nullptr);
    Platform::install(nullptr);
    RunLoop::install(nullptr);
    return 0;
}
