// The Bluetooth sub-tab on the simulated machine, with 20 Bluetooth rules (every one with a battery
// floor, the device connected and reporting a level) and 5 editors open: the page's re-renders
// per virtual minute while nothing changes (its 2 s permission refresh and the source's battery
// poll run), and the thread CPU time of one body evaluation.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Figures.h"
#include "QuietSimulator.h"
#include "app/compose/Services.h"
#include "automations/BluetoothSettingsView.h"
#include "foundation/Registry.h"
#include "reports/PermissionAudit.h"
#include "triggers/BluetoothTriggerSource.h"
#include "triggers/TriggerEngine.h"
#include "ui/ViewHost.h"

using namespace orvel;
using namespace orvel::bench;

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 30;
    const int evaluations = argc > 2 ? std::atoi(argv[2]) : 400;
    auto [loop, sim] = installQuietSimulator();
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    TriggerEngine& engine = graph->triggerEngine();
    engine.start();
    std::vector<TriggerRule> rules;
    for (int i = 0; i < 20; ++i) {
        char address[18];
        std::snprintf(address, sizeof address, "A4:83:E7:00:00:%02X", i);
        const std::string name = "Device " + std::to_string(i);
        sim.bluetooth().pair(BluetoothDevice{address, name, true});
        sim.bluetooth().setBatteryLevel(address, 50 + i);
        TriggerRule rule;
        rule.name = name;
        rule.source = TriggerSource::bluetooth;
        rule.btAddress = address;
        rule.btName = name;
        rule.btBattEnd = 20;
        rule.btBattRecover = 40;
        rules.push_back(rule);
    }
    engine.rules = rules;
    engine.syncSources();
    loop.drain();

    auto page = std::make_shared<BluetoothSettingsView>(makePermissionTab(engine),
                                                        graph->bluetoothSource(), sim.bluetooth(),
                                                        sim.network(), graph->permissionAudit());
    std::set<UUID> open;
    for (int i = 0; i < 5; ++i) {
        open.insert(rules[static_cast<std::size_t>(i) * 4].id);
    }
    page->expanded = open;
    ui::ViewHost host(page);
    host.setShown(true);
    loop.drain();
    host.evaluate();
    loop.advance(BluetoothSettingsView::kRefreshInterval);
    host.evaluate();

    const auto before = host.evaluationCount();
    const int readsBefore = sim.bluetooth().authorizationReads();
    // The host evaluates by itself on the loop turn after any change it is told of.
    for (int i = 0; i < minutes; ++i) {
        loop.advance(60);
    }
    const double perMinute =
        static_cast<double>(host.evaluationCount() - before) / static_cast<double>(minutes);
    std::printf(
        "idle Bluetooth sub-tab: %.2f re-renders per virtual minute (%d minutes, %d "
        "permission reads)\n",
        perMinute, minutes, sim.bluetooth().authorizationReads() - readsBefore);

    std::vector<double> samples;
    for (int i = 0; i < evaluations; ++i) {
        // A permission flip makes the next evaluation real, not a skipped idle one.
        sim.bluetooth().setAuthorization(i % 2 == 0 ? BluetoothAuthorization::denied
                                                    : BluetoothAuthorization::allowedAlways);
        page->refresh();
        loop.drain();
        samples.push_back(micros([&] { host.evaluate(); }));
    }
    const Figures f = summarise(samples);
    std::printf("body evaluation, 20 rules, 5 open: median %8.1f us  p95 %8.1f us  max %8.1f us\n",
                f.median, f.p95, f.max);
    graph.reset();
    Registry::reset();
    return 0;
}
