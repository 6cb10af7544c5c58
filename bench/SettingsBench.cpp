// The Settings window with the Qt host under the offscreen platform: the first opening to the
// first paint and a reopening, a permission refresh of the Devices page that finds nothing new
// (its time, and the evaluations and widgets it causes), one evaluation of the window on each
// page while a timed session counts down, and what a closed window does meanwhile.

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "Figures.h"
#include "app/compose/Services.h"
#include "core/OrvelController.h"
#include "foundation/Registry.h"
#include "platform/UserDefaults.h"
#include "platform/sim/SimPlatform.h"
#include "settings/SettingsView.h"
#include "ui/ViewComponent.h"
#include "ui/qt/QtEnvironment.h"
#include "ui/qt/QtHost.h"
#include "ui/qt/QtRenderer.h"
#include "ui/qt/QtRunLoop.h"
#include "ui/qt/QtWindow.h"

using namespace orvel;
using namespace orvel::ui;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

const Node* findTimer(const View& view) {
    const Node& node = view.node();
    if (node.onTimer) {
        return &node;
    }
    for (const auto& child : node.children) {
        if (const Node* found = findTimer(child)) {
            return found;
        }
    }
    return nullptr;
}

// The least a window can show.
class OneText final : public ViewComponent {
  public:
    View body() override { return Text("Orvel").fixedSize(false, true); }
};

}  // namespace

int main(int argc, char** argv) {
    QtEnvironment qt(argc, argv, /*offscreen=*/true);
    auto ownedLoop = std::make_unique<QtRunLoop>();
    QtRunLoop& loop = *ownedLoop;
    RunLoop::install(std::move(ownedLoop));
    auto ownedSim = std::make_unique<SimPlatform>();
    SimPlatform& sim = *ownedSim;
    Platform::install(std::move(ownedSim));
    sim.log().setMinimumLevel(LogLevel::Error);
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    auto ownedHost = std::make_unique<QtHost>(HostCapabilities::of(Platform::current()));
    QtHost& host = *ownedHost;
    UiHost::install(std::move(ownedHost));
    {
        // What the first window of any kind pays once per process: the font database, the style,
        // the first text shaped. Measured apart so the Settings window's own share shows.
        auto start = Clock::now();
        {
            auto probe = host.makeWindow();
            probe->setContent(std::make_shared<OneText>());
            probe->makeKeyAndOrderFront();
            QtEnvironment::processEvents();
            probe->close();
        }
        const double processStart = msSince(start);
        sim.userDefaults().setInteger(SettingsView::kTabKey, SettingsView::kGeneralTab);
        start = Clock::now();
        auto view = std::make_shared<SettingsView>(graph->settingsServices());
        auto window = host.makeWindow();
        window->setContent(view);
        window->setContentSize(SettingsView::kIdealWidth, SettingsView::kIdealHeight);
        window->makeKeyAndOrderFront();
        auto& qtWindow = static_cast<QtWindow&>(*window);
        QtEnvironment::processEvents();
        QtEnvironment::processEvents();  // the paint the first pass posted
        const double firstOpen = msSince(start);
        window->close();
        QtEnvironment::processEvents();
        start = Clock::now();
        window->makeKeyAndOrderFront();
        QtEnvironment::processEvents();
        QtEnvironment::processEvents();  // the paint the first pass posted
        const double reopen = msSince(start);
        std::printf("Settings window (Qt offscreen)\n");
        std::printf("  first window of the process (one text): %.1f ms\n", processStart);
        std::printf("  first open to first paint: %.1f ms\n", firstOpen);
        std::printf("  reopen to paint:           %.1f ms\n", reopen);

        sim.userDefaults().setInteger(SettingsView::kTabKey, SettingsView::kDevicesTab);
        QtEnvironment::processEvents();
        loop.runFor(1.0, [] { return false; });
        const Node* timer = findTimer(qtWindow.viewHost()->tree());
        if (timer != nullptr) {
            const auto evaluations = qtWindow.viewHost()->evaluationCount();
            const auto widgets = qtWindow.renderer()->widgetsCreated();
            std::vector<double> ticks;
            const auto tick = timer->onTimer;
            for (int i = 0; i < 200; ++i) {
                ticks.push_back(bench::micros([&] { tick(); }) / 1000.0);
                QtEnvironment::processEvents();
            }
            const auto f = bench::summarise(ticks);
            std::printf("  Devices refresh tick, nothing new: median %.3f ms, p95 %.3f ms\n",
                        f.median, f.p95);
            std::printf(
                "    evaluations caused: %llu, widgets made: %llu\n",
                static_cast<unsigned long long>(qtWindow.viewHost()->evaluationCount() -
                                                evaluations),
                static_cast<unsigned long long>(qtWindow.renderer()->widgetsCreated() - widgets));
        }

        SleepOptions options;
        options.preventIdleSleep = true;
        graph->controller().options = options;
        graph->controller().preset = DurationPreset::h1;
        graph->controller().start();
        std::printf("  one evaluation and reconciliation in a timed session, per page:\n");
        for (std::int64_t tab : {0, 1, 2, 3, 4, 6}) {
            sim.userDefaults().setInteger(SettingsView::kTabKey, tab);
            QtEnvironment::processEvents();
            std::vector<double> samples;
            for (int i = 0; i < 100; ++i) {
                samples.push_back(bench::micros([&] { qtWindow.viewHost()->evaluate(); }) / 1000.0);
            }
            const auto f = bench::summarise(samples);
            std::printf("    page %lld: median %.3f ms, p95 %.3f ms\n", static_cast<long long>(tab),
                        f.median, f.p95);
        }

        sim.userDefaults().setInteger(SettingsView::kTabKey, SettingsView::kDevicesTab);
        QtEnvironment::processEvents();
        window->close();
        QtEnvironment::processEvents();
        const auto checks = sim.permissions().checkCount();
        loop.runFor(5.0, [] { return false; });
        std::printf("  closed window on Devices, 5 s: permission checks %llu\n",
                    static_cast<unsigned long long>(sim.permissions().checkCount() - checks));
        graph->controller().stop(false);
    }
    UiHost::install(nullptr);
    graph.reset();
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
    return 0;
}
