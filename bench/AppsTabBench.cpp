// The Apps sub-tab on the simulated machine with 100 app rules and 10 editors open: the time from
// a change in a rule's editor to the re-evaluated tree (thread CPU, median and 95th percentile),
// the rule updates and saved settings one change costs, and how often a render asks the system
// for its running applications, before and after the application menu opens.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Figures.h"
#include "QuietSimulator.h"
#include "app/compose/Services.h"
#include "automations/AppsSettingsView.h"
#include "automations/RuleRow.h"
#include "core/OrvelController.h"
#include "foundation/Registry.h"
#include "triggers/TriggerEngine.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

using namespace orvel;
using bench::Figures;
using bench::micros;
using bench::summarise;

int main(int argc, char** argv) {
    const int changes = argc > 1 ? std::atoi(argv[1]) : 400;
    auto [loop, sim] = bench::installQuietSimulator();
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    TriggerEngine& engine = graph->triggerEngine();
    std::vector<TriggerRule> rules;
    for (int i = 0; i < 100; ++i) {
        TriggerRule rule;
        rule.source = TriggerSource::app;
        rule.name = "App " + std::to_string(i);
        rule.appName = rule.name;
        rule.appBundleID = "org.example.App" + std::to_string(i);
        rule.watchBackground = i % 10 == 0;
        rules.push_back(rule);
        if (i % 4 == 0) {
            (void)sim.workspace().launch(*rule.appBundleID, rule.name);
        }
    }
    engine.rules = rules;
    engine.start();
    loop.drain();

    auto page = std::make_shared<AppsSettingsView>(engine, graph->controller(), sim.userDefaults(),
                                                   sim.workspace(), sim.network());
    std::set<UUID> open;
    for (std::size_t i = 0; i < 100; i += 10) {
        open.insert(engine.rules()[i].id);
    }
    page->expanded = open;
    ui::ViewHost host(page);
    host.setShown(true);
    host.evaluate();

    // Each change of a rule's "On launch" up to the re-evaluated tree, and what it writes.
    int updates = 0;
    int saves = 0;
    Subscription counting = engine.rules.subscribe([&](const auto&) { ++updates; });
    Subscription saving = sim.userDefaults().changed.subscribe(
        [&](const std::string& key) { saves += key == "trigger.rules" ? 1 : 0; });
    const char* actions[] = {"endSession", "startSession"};
    std::vector<double> samples;
    for (int i = 0; i < changes; ++i) {
        samples.push_back(micros([&] {
            ui::Inspector(host).pick("On launch", actions[i % 2]);
            loop.drain();
        }));
    }
    const Figures f = summarise(samples);
    std::printf("change to tree: median %8.1f us  p95 %8.1f us  max %8.1f us\n", f.median, f.p95,
                f.max);
    std::printf("per change: %.2f rule updates, %.2f saves of the rules\n",
                static_cast<double>(updates) / changes, static_cast<double>(saves) / changes);

    // Renders with no editor and with ten editors open, then the menu of one of them opened.
    // The rows' HOLDING badge asks about each enabled app rule's application.
    constexpr int renders = 100;
    const auto scansPerRender = [&] {
        const auto scans = sim.workspace().scans();
        const auto tests = RuleRow::holdingTestCount();
        for (int i = 0; i < renders; ++i) {
            page->objectWillChange.send();
            loop.drain();
            host.evaluate();
        }
        return std::pair{static_cast<double>(sim.workspace().scans() - scans) / renders,
                         static_cast<double>(RuleRow::holdingTestCount() - tests) / renders};
    };
    page->expanded = {};
    const auto closed = scansPerRender();
    page->expanded = open;
    const auto opened = scansPerRender();
    std::printf(
        "application scans per render: %.2f with no editor open, %.2f with 10 open "
        "(holding tests per render: %.2f, %.2f)\n",
        closed.first, opened.first, closed.second, opened.second);
    const auto scans = sim.workspace().scans();
    const auto items = ui::Inspector(host).openMenu("Application");
    std::printf("application scans as the menu opens: %llu (%zu items)\n",
                static_cast<unsigned long long>(sim.workspace().scans() - scans),
                items ? items->size() : 0u);
    std::printf("(100 app rules, 10 open; %d changes)\n", changes);
    graph.reset();
    Registry::reset();
    return 0;
}
