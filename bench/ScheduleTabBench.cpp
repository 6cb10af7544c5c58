// The Schedule sub-tab with 100 schedule rules (10 waking the machine) and one editor open: a
// 20-character name typed key by key into "Name". Prints the thread CPU time of each keystroke
// up to the re-evaluated page (the edit, the loop turn, the body and the host's matching of the
// new tree; median and 90th percentile), and what one typed name cost once its pending text was
// written: rule-list updates, saves of the rule list, syncs of the sources and wake-date lists
// sent to the wake helper.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Figures.h"
#include "QuietSimulator.h"
#include "app/compose/Services.h"
#include "automations/RuleTextEdits.h"
#include "automations/ScheduleSettingsView.h"
#include "core/Preferences.h"
#include "foundation/Registry.h"
#include "platform/HelperService.h"
#include "triggers/ScheduleTriggerSource.h"
#include "triggers/TriggerEngine.h"
#include "triggers/WakeHelperClient.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

using namespace orvel;
using bench::micros;

namespace {

constexpr std::size_t kNameLength = 20;

std::vector<TriggerRule> makeRules() {
    std::vector<TriggerRule> rules;
    for (int i = 0; i < 100; ++i) {
        TriggerRule rule;
        rule.source = TriggerSource::schedule;
        rule.name = "Window " + std::to_string(i);
        rule.schedKind = "window";
        rule.schedDays = std::vector<std::int64_t>{1 + i % 7, 1 + (i + 3) % 7};
        rule.schedStartMin = (i * 37) % 1440;
        rule.schedEndMin = (i * 37 + 90) % 1440;
        rule.wakeMac = i % 10 == 0;
        rules.push_back(rule);
    }
    return rules;
}

double percentile(std::vector<double> samples, int percent) {
    if (samples.empty()) {
        return 0;
    }
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, samples.size() * percent / 100)];
}

// The smallest and largest of one count over the typed names.
struct Span {
    std::uint64_t low = ~std::uint64_t{0};
    std::uint64_t high = 0;
    void add(std::uint64_t n) {
        low = std::min(low, n);
        high = std::max(high, n);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int names = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    auto [loop, sim] = bench::installQuietSimulator();
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    sim.helperService().setStatus(helper_service_status::kEnabled);
    TriggerEngine& engine = graph->triggerEngine();
    WakeHelperClient& helper = graph->wakeHelper();
    engine.start();
    engine.rules = makeRules();
    engine.save();
    engine.syncSources();
    loop.drain();

    auto page =
        std::make_shared<ScheduleSettingsView>(engine, helper, graph->preferences(), sim.network());
    ui::ViewHost host(page);
    host.setShown(true);
    host.evaluate();
    const TriggerRule edited = engine.rules()[0];  // one that wakes the machine
    page->expanded = {edited.id};
    loop.drain();
    if (helper.state() != WakeHelperClient::State::active || !edited.wakeMac) {
        std::fprintf(stderr, "the wake helper is not active\n");
        return 1;
    }

    std::uint64_t updates = 0;
    std::uint64_t saves = 0;
    std::uint64_t syncs = 0;
    double lastSave = -1;
    const Subscription counting = engine.rules.subscribe([&](const auto&) { ++updates; });
    // A sync ticks the schedule source, which stamps its tick right after the rule list is
    // saved; the source's own 20 s ticks stamp it at other moments.
    const Subscription written = sim.userDefaults().changed.subscribe([&](const std::string& key) {
        if (key == TriggerEngine::kRulesKey) {
            ++saves;
            lastSave = loop.now().unixTime();
        } else if (key == ScheduleTriggerSource::kLastTickKey &&
                   loop.now().unixTime() == lastSave) {
            ++syncs;
        }
    });

    ui::Inspector view(host);
    std::vector<double> keystrokes;
    std::vector<double> flushes;
    Span updateSpan, saveSpan, syncSpan, sendSpan;
    std::uint64_t earlyWrites = 0;
    std::uint64_t missedEvaluations = 0;
    for (int n = 0; n < names; ++n) {
        char name[kNameLength + 1];
        std::snprintf(name, sizeof name, "Night shift lab #%03u", static_cast<unsigned>(n) % 1000u);
        if (!view.clearText("Name")) {
            std::fprintf(stderr, "%s\n", view.lastFailure().c_str());
            return 1;
        }
        loop.drain();
        const std::uint64_t updatesBefore = updates, savesBefore = saves, syncsBefore = syncs;
        const std::size_t sendsBefore = sim.helperConnection().sent().size();
        for (std::size_t i = 0; i < kNameLength; ++i) {
            const auto evaluations = host.evaluationCount();
            keystrokes.push_back(micros([&] {
                view.type("Name", std::string(1, name[i]));
                loop.drain();
            }));
            missedEvaluations += host.evaluationCount() == evaluations + 1 ? 0 : 1;
        }
        earlyWrites += (updates - updatesBefore) + (saves - savesBefore);
        flushes.push_back(micros([&] { loop.advance(RuleTextEdits::kDelay + 0.1); }));
        if (engine.rules()[0].name != name) {
            std::fprintf(stderr, "the typed name was not stored: \"%s\"\n",
                         engine.rules()[0].name.c_str());
            return 1;
        }
        updateSpan.add(updates - updatesBefore);
        saveSpan.add(saves - savesBefore);
        syncSpan.add(syncs - syncsBefore);
        sendSpan.add(sim.helperConnection().sent().size() - sendsBefore);
    }

    std::printf("keystroke to page: median %8.1f us  p90 %8.1f us  max %8.1f us   (%zu keys)\n",
                percentile(keystrokes, 50), percentile(keystrokes, 90), percentile(keystrokes, 100),
                keystrokes.size());
    std::printf(
        "pending name written: median %8.1f us  p90 %8.1f us  (the write, save, sync, "
        "send and re-evaluation)\n",
        percentile(flushes, 50), percentile(flushes, 90));
    std::printf(
        "per typed name (min-max over %d names): %llu-%llu updates  %llu-%llu saves  "
        "%llu-%llu syncs  %llu-%llu wake-date sends\n",
        names, static_cast<unsigned long long>(updateSpan.low),
        static_cast<unsigned long long>(updateSpan.high),
        static_cast<unsigned long long>(saveSpan.low),
        static_cast<unsigned long long>(saveSpan.high),
        static_cast<unsigned long long>(syncSpan.low),
        static_cast<unsigned long long>(syncSpan.high),
        static_cast<unsigned long long>(sendSpan.low),
        static_cast<unsigned long long>(sendSpan.high));
    std::printf("written while typing: %llu; keystrokes without exactly one evaluation: %llu\n",
                static_cast<unsigned long long>(earlyWrites),
                static_cast<unsigned long long>(missedEvaluations));
    std::printf("(100 schedule rules, 10 waking, one editor open, %zu-character names)\n",
                kNameLength);
    graph.reset();
    Registry::reset();
    return 0;
}
