// The diagnostic texts on the simulated machine: the report and the self-test with 50 activity
// entries, 30 rules, 20 kept-alive drives and 40 input devices, and the redaction of a 0.5, 1 and
// 2 MB text with 200 names (it should grow in step with the text). Prints milliseconds of the
// main thread's CPU time, median and 95th percentile of the runs.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Figures.h"
#include "QuietSimulator.h"
#include "app/compose/Services.h"
#include "core/ActivityLog.h"
#include "devices/InputBlocker.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Registry.h"
#include "reports/DiagnosticReport.h"
#include "reports/ReportRedaction.h"
#include "reports/SelfTest.h"
#include "triggers/TriggerEngine.h"

using namespace orvel;
using bench::Figures;
using bench::micros;
using bench::summarise;

namespace {

void print(const char* what, const std::vector<double>& samples) {
    const Figures f = summarise(samples);
    std::printf("%-52s median %9.2f ms   p95 %9.2f ms\n", what, f.median / 1000, f.p95 / 1000);
}

void fillMachine(bench::Simulator& s, Services& graph) {
    for (int i = 0; i < 40; ++i) {
        s.sim.hidDevices().attach(HidDevice{
            0, "Device " + std::to_string(i), "USB", i < 2, 0x05AC, {hid_usage::kKeyboard}});
    }
    for (int i = 0; i < 30; ++i) {
        TriggerRule rule;
        rule.name = "Rule " + std::to_string(i);
        rule.source = i % 2 == 0 ? TriggerSource::wifiSSID : TriggerSource::schedule;
        if (i % 2 == 0) {
            rule.matcher = NetworkMatcher::ssid("Network " + std::to_string(i));
        }
        graph.triggerEngine().add(rule);
    }
    std::vector<DriveKeepAlive::Drive> drives;
    for (int i = 0; i < 20; ++i) {
        DriveKeepAlive::Drive drive{"U" + std::to_string(i), "Drive " + std::to_string(i),
                                    "/media/d" + std::to_string(i)};
        drive.enabled = true;
        drives.push_back(drive);
    }
    graph.driveKeepAlive().drives = drives;
    for (int i = 0; i < 50; ++i) {
        ActivityLog::add(
            ActivityEntry::make(ActivityEntry::Kind::info, "Entry " + std::to_string(i), "detail"));
    }
    s.loop.drain();
}

std::string textOf(std::size_t bytes, const std::vector<std::string>& names) {
    std::string text;
    text.reserve(bytes + 200);
    for (std::size_t i = 0; text.size() < bytes; ++i) {
        text += "  external \u2014 " + names[i % names.size()] +
                " \u00B7 USB \u00B7 BuiltIn no \u00B7 vendor 0x05AC 12:34:56:78:9A:";
        text += std::to_string(10 + i % 90) + " [PASS] Input Monitoring\n";
    }
    return text;
}

}  // namespace

int main() {
    constexpr int kRuns = 20;
    auto s = bench::installQuietSimulator();
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    fillMachine(s, *graph);
    InputBlocker& blocker = graph->inputBlocker();
    blocker.permissionStatus();
    std::vector<double> report;
    std::vector<double> selfTest;
    {
        InputBlocker::HidAccessScope access(blocker);
        std::printf("report %zu bytes, self-test %zu bytes\n",
                    graph->diagnosticReport().diagnosticReport().size(),
                    graph->selfTest().selfTest().size());
    }
    for (int run = 0; run < kRuns; ++run) {
        InputBlocker::HidAccessScope access(blocker);
        report.push_back(micros([&] { (void)graph->diagnosticReport().diagnosticReport(); }));
        selfTest.push_back(micros([&] { (void)graph->selfTest().selfTest(); }));
    }
    print("report (50 entries, 30 rules, 40 devices)", report);
    print("self-test (40 devices)", selfTest);

    std::vector<std::string> names;
    for (int i = 0; i < 200; ++i) {
        names.push_back("Person Name " + std::to_string(i));
    }
    for (const std::size_t bytes : {512u * 1024u, 1024u * 1024u, 2048u * 1024u}) {
        const std::string text = textOf(bytes, names);
        std::vector<double> samples;
        for (int run = 0; run < 5; ++run) {
            samples.push_back(micros([&] { (void)ReportRedaction::obfuscate(text, names); }));
        }
        const std::string what = "redaction of " + std::to_string(bytes / 1024) + " KB, 200 names";
        print(what.c_str(), samples);
    }
    graph.reset();
    Registry::reset();
    return 0;
}
