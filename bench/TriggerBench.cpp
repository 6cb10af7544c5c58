// The trigger engine with 200 rules (40 per family) on the simulated machine: the shield walk of
// an end edge with live holding checks, one edge per rule, loading and saving the list, and the
// redacted report section. Prints microseconds of the main thread's CPU time per operation
// (median and 95th percentile): the machine may be shared, and the simulated notification centre
// answers on a thread of its own, whose start would otherwise be counted as waiting.

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "Figures.h"
#include "QuietSimulator.h"
#include "app/compose/Services.h"
#include "core/OrvelController.h"
#include "foundation/Registry.h"
#include "foundation/VirtualRunLoop.h"
#include "platform/sim/SimPlatform.h"
#include "triggers/TriggerEngine.h"

using namespace orvel;
using bench::Figures;
using bench::micros;
using bench::summarise;
using bench::threadMicros;

namespace {

void print(const char* what, const std::vector<double>& samples) {
    const Figures f = summarise(samples);
    std::printf("%-58s median %9.1f us   p95 %9.1f us\n", what, f.median, f.p95);
}

std::vector<TriggerRule> makeRules(SimPlatform& sim) {
    std::vector<TriggerRule> rules;
    for (int i = 0; i < 40; ++i) {
        const std::string n = std::to_string(i);
        TriggerRule bt;
        bt.source = TriggerSource::bluetooth;
        bt.name = "Headphones " + n;
        bt.btAddress = "a4-83-e7-00-00-" + n;
        bt.btName = "Device " + n;
        bt.durationSeconds = 3600;
        sim.bluetooth().pair(BluetoothDevice{*bt.btAddress, bt.btName, false});
        TriggerRule wifi;
        wifi.source = TriggerSource::wifiSSID;
        wifi.name = "WiFi " + n;
        wifi.matcher = NetworkMatcher::ssid("Net " + n);
        TriggerRule net;
        net.source = TriggerSource::network;
        net.name = "Gateway " + n;
        net.matcher = NetworkMatcher::gateway("10.0.1." + n);
        TriggerRule sched;
        sched.source = TriggerSource::schedule;
        sched.name = "Hours " + n;
        sched.schedDays = std::vector<std::int64_t>{2, 3, 4, 5, 6};
        sched.schedStartMin = 540;
        sched.schedEndMin = 1020;
        TriggerRule app;
        app.source = TriggerSource::app;
        app.name = "Editor " + n;
        app.appBundleID = "org.example.Editor" + n;
        app.appName = "Editor " + n;
        for (auto* r : {&bt, &wifi, &net, &sched, &app}) {
            rules.push_back(*r);
        }
    }
    return rules;
}

}  // namespace

int main() {
    const bench::Simulator simulator = bench::installQuietSimulator();
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    VirtualRunLoop& loop = simulator.loop;
    SimPlatform& sim = simulator.sim;
    // Running applications the holding checks look through.
    for (int i = 0; i < 60; ++i) {
        sim.workspace().launch("org.example.Other" + std::to_string(i), "Other");
    }

    const std::vector<TriggerRule> rules = makeRules(sim);
    {
        TriggerEngine& engine = graph->triggerEngine();
        engine.replaceAll(rules, {});
        engine.start();
        OrvelController& controller = graph->controller();
        loop.drain();

        // The last app rule's end edge: every rule of the four higher families is a candidate and
        // none holds, so the shield walks all 160 of them.
        const TriggerRule& lowest = rules.back();
        std::vector<double> shield;
        for (int i = 0; i < 2000; ++i) {
            shield.push_back(micros([&] { (void)engine.shieldingRule(lowest); }));
        }
        print("shield walk of an end edge (160 live holding checks)", shield);

        std::vector<double> endEdge;
        std::vector<double> startEdge;
        for (int i = 0; i < 500; ++i) {
            startEdge.push_back(micros([&] { engine.handle(lowest.id, true, false); }));
            endEdge.push_back(micros([&] { engine.handle(lowest.id, false, false); }));
            loop.drain();
        }
        print("handle: a start edge that starts a session", startEdge);
        print("handle: an end edge, shield walked, session ended", endEdge);

        // Nothing to start or notify: the decision alone.
        controller.start();
        std::vector<double> ignored;
        for (int i = 0; i < 2000; ++i) {
            ignored.push_back(micros([&] { engine.handle(lowest.id, true, false); }));
        }
        loop.drain();
        controller.stop(true);
        print("handle: a start edge ignored (a session already runs)", ignored);

        std::vector<double> perRule;
        std::vector<double> drains;
        std::vector<std::vector<double>> byFamily(5);
        for (int round = 0; round < 5; ++round) {
            for (const auto& rule : rules) {
                auto& family = byFamily[static_cast<std::size_t>(rule.source)];
                for (const bool appeared : {true, false}) {
                    const double us = micros([&] { engine.handle(rule.id, appeared, false); });
                    perRule.push_back(us);
                    family.push_back(us);
                }
            }
            drains.push_back(micros([&] { loop.drain(); }) / 400.0);
        }
        print("handle: each rule's appear and clear edge (400 per round)", perRule);
        for (const TriggerSource source : allCases<TriggerSource>()) {
            const std::string what = "  of which " + std::string(rawValue(source)) + " rules";
            print(what.c_str(), byFamily[static_cast<std::size_t>(source)]);
        }
        print("  + activity-log write per edge (drained afterwards)", drains);
        if (controller.isActive()) {
            controller.stop(true);
        }

        std::vector<double> saves;
        for (int i = 0; i < 200; ++i) {
            saves.push_back(micros([&] { engine.save(); }));
        }
        print("save of the four keys (200 rules)", saves);
        loop.drain();
    }

    std::vector<double> loads;
    for (int i = 0; i < 200; ++i) {
        graph.reset();
        Registry::reset();
        graph = std::make_unique<Services>(Platform::current());
        graph->receiveActivityEntries();
        loads.push_back(micros([&] { (void)graph->triggerEngine(); }));
    }
    print("load of the four keys into a new engine (200 rules)", loads);

    std::vector<double> reports;
    {
        TriggerEngine& engine = graph->triggerEngine();
        for (int i = 0; i < 200; ++i) {
            reports.push_back(micros([&] { (void)engine.diagnosticSection(true); }));
        }
    }
    print("diagnosticSection, redacted (200 rules)", reports);

    graph.reset();
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
    return 0;
}
