// The Troubleshooting and Drives tabs on the simulated machine with the headless host: "Copy
// Report" and "Run Self-Test" end to end with a 300-line text (build, redact, re-render), the
// Drives page with 50 drives re-rendered after one read, the conflicts section with 200 rules and
// a reset of all settings. Prints microseconds of the thread's CPU time (median, 95th percentile).

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Figures.h"
#include "QuietSimulator.h"
#include "app/compose/Services.h"
#include "core/OrvelController.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Registry.h"
#include "reports/ConflictsReport.h"
#include "reports/PermissionAudit.h"
#include "settings/DrivesSettingsView.h"
#include "settings/SettingsReset.h"
#include "settings/TroubleshootingView.h"
#include "triggers/TriggerEngine.h"
#include "ui/HeadlessHost.h"

using namespace orvel;
using bench::Figures;
using bench::micros;
using bench::summarise;

namespace {

void print(const char* what, std::vector<double> samples) {
    const Figures f = summarise(std::move(samples));
    std::printf("%-40s median %8.1f us   p95 %8.1f us\n", what, f.median, f.p95);
}

std::string lines(const char* prefix, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += std::string(prefix) + " line " + std::to_string(i) +
                " user Ada Lovelace on ada-laptop, device AA:BB:CC:DD:EE:FF\n";
    }
    return text;
}

void addRules(Services& services, int count) {
    for (int i = 0; i < count; ++i) {
        TriggerRule rule;
        rule.name = "Rule " + std::to_string(i);
        rule.btName = "Headset " + std::to_string(i);
        rule.btBattEnd = 20;
        rule.onClear = i % 2 == 0 ? TriggerAction::startSession : TriggerAction::endSession;
        services.triggerEngine().add(rule);
    }
}

}  // namespace

int main() {
    auto simulator = bench::installQuietSimulator();
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    auto& loop = simulator.loop;
    ui::UiHost::install(
        std::make_unique<ui::HeadlessHost>(ui::HostCapabilities::of(Platform::current())));
    addRules(*graph, 200);
    graph->triggerEngine().setMasterEnabled(false);
    loop.drain();

    std::vector<double> samples;
    for (int i = 0; i < 200; ++i) {
        samples.push_back(micros([&] { (void)graph->conflictsReport().text(); }));
    }
    print("conflictsReport, 200 rules", samples);

    // A stand-in redaction that walks the whole text, as the real one does.
    DiagnosticsSources sources;
    const std::string report = lines("REPORT", 300);
    sources.report = [&report] { return report; };
    sources.selfTest = [] { return lines("SELF-TEST", 200); };
    sources.auditSections = [] { return lines("AUDIT", 100); };
    sources.redact = [](const std::string& text) {
        std::string out = text;
        for (auto at = out.find("Ada"); at != std::string::npos; at = out.find("Ada", at)) {
            out.replace(at, 3, "id-7f3a");
        }
        return out;
    };
    sources.conflicts = [&graph] { return graph->conflictsReport().text(); };
    auto view = std::make_shared<TroubleshootingView>(
        graph->controller(), sources, graph->resetOwners(), [] { return std::string("x86_64"); });
    view->redactIdentifiers = true;
    auto window = ui::UiHost::current().makeWindow();
    window->setContent(view);
    window->makeKeyAndOrderFront();
    loop.drain();
    for (const bool selfTest : {false, true}) {
        samples.clear();
        for (int i = 0; i < 100; ++i) {
            samples.push_back(micros([&] {
                selfTest ? view->runSelfTest() : view->copyReport();
                loop.drain();
            }));
        }
        print(
            selfTest ? "Run Self-Test (300 lines, redacted)" : "Copy Report (300 lines, redacted)",
            samples);
    }
    window.reset();

    std::vector<DriveKeepAlive::Drive> drives;
    for (int i = 0; i < 50; ++i) {
        DriveKeepAlive::Drive drive;
        drive.id = "disk-" + std::to_string(i);
        drive.name = "Disk " + std::to_string(i);
        drive.path = "/media/disk-" + std::to_string(i);
        drive.enabled = true;
        drives.push_back(drive);
    }
    DriveKeepAlive& keeper = graph->driveKeepAlive();
    loop.drain();  // the start-up scan, which drops drives that are not mounted
    keeper.drives = drives;
    auto page =
        std::make_shared<DrivesSettingsView>(keeper, graph->controller(), graph->permissionAudit());
    auto drivesWindow = ui::UiHost::current().makeWindow();
    drivesWindow->setContent(page);
    drivesWindow->makeKeyAndOrderFront();
    loop.drain();
    samples.clear();
    for (int i = 0; i < 200; ++i) {
        samples.push_back(micros([&] {
            keeper.markRead("disk-" + std::to_string(i % 50));
            loop.drain();
        }));
    }
    print("Drives page, 50 drives, after one read", samples);
    drivesWindow.reset();

    samples.clear();
    for (int i = 0; i < 20; ++i) {
        addRules(*graph, 10);
        keeper.drives = drives;
        loop.drain();
        samples.push_back(micros([&] {
            graph->settingsReset().perform(false);
            loop.drain();
        }));
    }
    print("performReset (10 rules, 50 drives)", samples);
    graph.reset();
    Registry::reset();
    return 0;
}
