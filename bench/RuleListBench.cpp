// The rule editors' cost on the simulated machine: 100 rules over the five families (a fifth of
// them holding), 10 editors open and 50 activity entries. A rule's enable switch is flipped and
// the time to the reconciled tree of a rule list and of the Triggers page is measured (the flip,
// the engine's save and source sync, the loop turn and the evaluation; thread CPU, median and
// 95th percentile), with the holding tests each evaluation made.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Figures.h"
#include "QuietSimulator.h"
#include "app/compose/Services.h"
#include "automations/ACOnlyToggle.h"
#include "automations/ActionPicker.h"
#include "automations/DurationPicker.h"
#include "automations/EditorFooter.h"
#include "automations/RuleRow.h"
#include "automations/TriggersSettingsView.h"
#include "core/ActivityLog.h"
#include "core/Preferences.h"
#include "foundation/Registry.h"
#include "platform/Platform.h"
#include "triggers/ScheduleTriggerSource.h"
#include "triggers/TriggerEngine.h"
#include "ui/ViewHost.h"

using namespace orvel;
using bench::Figures;
using bench::micros;
using bench::summarise;

namespace {

class RuleList final : public ui::ViewComponent {
  public:
    explicit RuleList(Services& services) : services_(services) {}

    Published<std::set<UUID>> expanded{*this, {}};

    ui::View body() override {
        ExpandedRules open{[this] { return expanded(); },
                           [this](const std::set<UUID>& ids) { expanded = ids; }};
        RuleEditor editor = [this, open](const TriggerRule& rule) {
            TriggerEngine& engine = services_.triggerEngine();
            return ui::VStack(
                {DurationPicker{engine, rule}.body(),
                 ActionPicker{engine, "When it appears", rule, &TriggerRule::onAppear}.body(),
                 ActionPicker{engine, "When it clears", rule, &TriggerRule::onClear}.body(),
                 ACOnlyToggle{engine, rule}.body(), EditorFooter{engine, rule, open}.body()});
        };
        std::vector<ui::View> rows;
        for (const TriggerRule& rule : services_.triggerEngine().rules()) {
            rows.push_back(RuleRow{services_.triggerEngine(), Platform::current().network(), rule,
                                   open, editor}
                               .body()
                               .id(rule.id.uuidString()));
        }
        return ui::VStack(std::move(rows));
    }
    std::vector<ObservableObject*> observedObjects() override {
        return {&services_.triggerEngine(), this};
    }

  private:
    Services& services_;
};

std::vector<TriggerRule> makeRules(SimPlatform& sim, Services& services) {
    using S = TriggerSource;
    std::vector<TriggerRule> rules;
    for (int i = 0; i < 20; ++i) {
        const std::string n = std::to_string(i);
        const bool holds = i % 5 == 0;
        char address[32];
        std::snprintf(address, sizeof address, "a4-83-e7-11-22-%02d", i);
        sim.bluetooth().pair(BluetoothDevice{address, "Device " + n, holds});
        TriggerRule bt;
        bt.source = S::bluetooth;
        bt.name = "Device " + n;
        bt.btAddress = address;
        TriggerRule wifi;
        wifi.source = S::wifiSSID;
        wifi.name = "WiFi " + n;
        wifi.matcher = NetworkMatcher::ssid(holds ? "Office" : "Net " + n);
        TriggerRule net;
        net.source = S::network;
        net.name = "Gateway " + n;
        net.matcher = NetworkMatcher::gateway(holds ? "10.0.0.1" : "10.0.1." + n);
        TriggerRule schedule;
        schedule.source = S::schedule;
        schedule.name = "Window " + n;
        if (holds) {
            services.scheduleSource().activeNow.insert(schedule.id);
        }
        TriggerRule app;
        app.source = S::app;
        app.name = "App " + n;
        app.appBundleID = "org.example.App" + n;
        if (holds) {
            (void)sim.workspace().launch(*app.appBundleID, app.name);
        }
        for (auto& rule : {bt, wifi, net, schedule, app}) {
            rules.push_back(rule);
        }
    }
    sim.network().setSSID("Office");
    sim.network().setRouter("10.0.0.1");
    sim.network().setLocationAuthorization(LocationAuthorization::authorizedAlways);
    return rules;
}

// Flips one rule's switch `runs` times and measures each flip up to the re-evaluated tree.
void measure(const char* what, ui::ViewHost& host, VirtualRunLoop& loop, TriggerEngine& engine,
             int runs) {
    std::vector<double> samples;
    const auto testsBefore = RuleRow::holdingTestCount();
    const auto evaluationsBefore = host.evaluationCount();
    for (int i = 0; i < runs; ++i) {
        const TriggerRule rule = engine.rules()[static_cast<std::size_t>(i) % 100];
        samples.push_back(micros([&] {
            RuleRow{engine, Platform::current().network(), rule, {}, nullptr}.setEnabled(
                !rule.enabled);
            loop.drain();
        }));
    }
    const auto evaluations = host.evaluationCount() - evaluationsBefore;
    const double tests = static_cast<double>(RuleRow::holdingTestCount() - testsBefore);
    const Figures f = summarise(samples);
    std::printf(
        "%-14s flip to tree: median %8.1f us  p95 %8.1f us  max %8.1f us   "
        "%llu evaluations, %.1f holding tests each\n",
        what, f.median, f.p95, f.max, static_cast<unsigned long long>(evaluations),
        evaluations ? tests / static_cast<double>(evaluations) : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 400;
    auto [loop, sim] = bench::installQuietSimulator();
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    TriggerEngine& engine = graph->triggerEngine();
    engine.rules = makeRules(sim, *graph);
    std::vector<ActivityEntry> entries;
    for (int i = 0; i < 50; ++i) {
        entries.push_back(ActivityEntry::make(ActivityEntry::Kind::started, "Entry", "detail"));
    }
    graph->activityLog().entries = entries;

    auto list = std::make_shared<RuleList>(*graph);
    std::set<UUID> open;
    for (std::size_t i = 0; i < 100; i += 10) {
        open.insert(engine.rules()[i].id);
    }
    list->expanded = open;
    {
        ui::ViewHost host(list);
        host.setShown(true);
        host.evaluate();
        measure("rule list", host, loop, engine, runs);
    }
    {
        ui::ViewHost host(std::make_shared<TriggersSettingsView>(engine, graph->activityLog(),
                                                                 graph->preferences()));
        host.setShown(true);
        host.evaluate();
        measure("Triggers page", host, loop, engine, runs);
    }
    std::printf("(100 rules, 10 open, 50 entries; %d flips each)\n", runs);
    graph.reset();
    Registry::reset();
    return 0;
}
