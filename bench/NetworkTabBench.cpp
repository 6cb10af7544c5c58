// The Network sub-tab with 100 network rules, 10 editors open: one keystroke in a rule's value
// field up to the re-evaluated page (thread CPU, median and 95th percentile), the rule updates
// each typed value makes, and the cost of the one write when typing pauses.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Figures.h"
#include "QuietSimulator.h"
#include "app/compose/Services.h"
#include "automations/NetworkSettingsView.h"
#include "foundation/Registry.h"
#include "reports/PermissionAudit.h"
#include "triggers/NetworkTriggerSource.h"
#include "triggers/TriggerEngine.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

using namespace orvel;
using namespace orvel::bench;

namespace {

std::vector<TriggerRule> makeRules() {
    std::vector<TriggerRule> rules;
    for (int i = 0; i < 100; ++i) {
        const std::string n = std::to_string(i);
        TriggerRule rule;
        if (i % 2 == 0) {
            rule.source = TriggerSource::wifiSSID;
            rule.matcher = NetworkMatcher::ssid("Net " + n);
            rule.name = "WiFi SSID Net " + n;
        } else {
            rule.source = TriggerSource::network;
            rule.matcher = NetworkMatcher::ipv4Range("");
            rule.name = "IPv4 range";
        }
        rules.push_back(rule);
    }
    return rules;
}

}  // namespace

int main(int argc, char** argv) {
    const int values = argc > 1 ? std::atoi(argv[1]) : 40;
    auto [loop, sim] = installQuietSimulator();
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    sim.network().setInterfaces({SimNetwork::ipv4("en0", "100.64.0.5")});
    sim.network().setLocationAuthorization(LocationAuthorization::authorizedAlways);
    TriggerEngine& engine = graph->triggerEngine();
    engine.rules = makeRules();
    engine.start();
    loop.drain();

    auto page = std::make_shared<NetworkSettingsView>(
        makePermissionTab(engine), graph->networkSource(), sim.network(), graph->permissionAudit());
    // The first range rule open; nine more open further down.
    const UUID typedInto = engine.rules()[1].id;
    std::set<UUID> open{typedInto};
    for (std::size_t i = 10; i < 100; i += 10) {
        open.insert(engine.rules()[i].id);
    }
    page->expanded = open;
    ui::ViewHost host(page);
    host.setShown(true);
    host.evaluate();

    int updates = 0;
    auto counting = engine.rules.subscribe([&](const auto&) { ++updates; });
    std::vector<double> keystrokes;
    std::vector<double> writes;
    std::vector<int> updatesPerValue;
    for (int v = 0; v < values; ++v) {
        ui::Inspector(host).clearText("Value");
        loop.advance(1);
        updates = 0;
        const std::string value = "10." + std::to_string(v % 256) + ".0.0/16";
        for (const char key : value) {
            keystrokes.push_back(micros([&] {
                ui::Inspector(host).type("Value", std::string(1, key));
                loop.drain();
            }));
            loop.advance(0.1);
        }
        writes.push_back(micros([&] { loop.advance(RuleTextEdits::kDelay); }));
        updatesPerValue.push_back(updates);
    }
    for (const TriggerRule& rule : engine.rules()) {
        if (rule.id == typedInto &&
            rule.name != "IPv4 range 10." + std::to_string((values - 1) % 256) + ".0.0/16") {
            std::fprintf(stderr, "the typed value was not stored: %s\n", rule.name.c_str());
            return 1;
        }
    }
    const Figures k = summarise(keystrokes);
    const Figures w = summarise(writes);
    int most = 0;
    int least = 1 << 30;
    for (int n : updatesPerValue) {
        most = std::max(most, n);
        least = std::min(least, n);
    }
    std::printf("keystroke to page: median %8.1f us  p95 %8.1f us  max %8.1f us\n", k.median, k.p95,
                k.max);
    std::printf("write on pause:    median %8.1f us  p95 %8.1f us  max %8.1f us\n", w.median, w.p95,
                w.max);
    std::printf("updates per typed value: %d (least %d, most %d)\n", most == least ? most : -1,
                least, most);
    std::printf("(100 network rules, 10 open; %d values of up to 12 keys, %zu keystrokes)\n",
                values, keystrokes.size());
    graph.reset();
    Registry::reset();
    return 0;
}
