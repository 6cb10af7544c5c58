// The Battery sub-tab: one step of the battery floor past the recovery level, with the bounce it
// causes, up to the re-evaluated page: the settings written, the evaluations and the CPU time.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "Figures.h"
#include "QuietSimulator.h"
#include "app/compose/Services.h"
#include "automations/BatteryPowerSettingsView.h"
#include "core/Preferences.h"
#include "foundation/Registry.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "ui/ViewHost.h"

using namespace orvel;
using namespace orvel::bench;

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 400;
    auto [loop, sim] = installQuietSimulator();
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    Preferences& prefs = graph->preferences();
    prefs.lowBattEnd = true;
    prefs.battRecover = true;
    ui::ViewHost host(std::make_shared<BatteryPowerSettingsView>(
        prefs, graph->powerCenter(), graph->triggerEngine(), sim.powerSources()));
    host.setShown(true);
    host.evaluate();

    std::vector<double> samples;
    const auto writesBefore = sim.userDefaults().writeCount();
    const auto evaluationsBefore = host.evaluationCount();
    for (int i = 0; i < runs; ++i) {
        // Floor 49 against recovery 50, set while the page is away so nothing corrects it.
        host.setShown(false);
        prefs.lowBattPct = 49;
        prefs.battRecoverPct = 50;
        loop.drain();
        host.setShown(true);
        const auto before = sim.userDefaults().writeCount();
        samples.push_back(micros([&] {
            prefs.lowBattPct = 50;
            loop.drain();
        }));
        if (prefs.battRecoverPct() != 51) {
            std::fprintf(stderr, "the recovery level did not move\n");
            return 1;
        }
        if (i == 0) {
            std::printf("one floor step: %llu settings written (the floor and its bounce)\n",
                        static_cast<unsigned long long>(sim.userDefaults().writeCount() - before));
        }
    }
    const Figures f = summarise(samples);
    std::printf("floor step to page: median %8.1f us  p95 %8.1f us  max %8.1f us\n", f.median,
                f.p95, f.max);
    std::printf("(%d steps; %llu writes and %llu evaluations in all, set-up included)\n", runs,
                static_cast<unsigned long long>(sim.userDefaults().writeCount() - writesBefore),
                static_cast<unsigned long long>(host.evaluationCount() - evaluationsBefore));
    graph.reset();
    Registry::reset();
    return 0;
}
