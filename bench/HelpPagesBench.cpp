// The sixteen help pages: each page's body evaluation alone (headless, microseconds of the
// thread's CPU time, median of many), and the switch to it in the Help window under the
// offscreen Qt host (the evaluation with the renderer's reconciliation, then the layout; wall
// milliseconds, median of several). Each switch starts from another page, so the renderer
// replaces the whole detail as it does when the user picks a row.

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Figures.h"
#include "foundation/DateFormatting.h"
#include "foundation/Registry.h"
#include "help/HelpPages.h"
#include "help/HelpView.h"
#include "platform/sim/SimPlatform.h"
#include "ui/qt/QtEnvironment.h"
#include "ui/qt/QtHost.h"
#include "ui/qt/QtRunLoop.h"
#include "ui/qt/QtWindow.h"

using namespace orvel;
using namespace orvel::ui;
using bench::Figures;
using bench::micros;
using bench::summarise;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBodyRuns = 400;
constexpr int kSwitchRuns = 11;

double millis(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

struct Switch {
    Figures evaluation;  // the body and the reconciliation
    Figures layout;
    Figures total;
};

// Turns the shown window's view to `to` from `from`, `runs` times.
Switch measureSwitch(HelpView& view, QtWindow& window, HelpSection from, HelpSection to) {
    std::optional<Clock::time_point> evaluated;
    // Subscribed after the renderer, so it hears of an evaluation once the widgets match it.
    const Subscription done =
        window.viewHost()->evaluated.subscribe([&] { evaluated = Clock::now(); });
    std::vector<double> evaluation, layout, total;
    for (int i = 0; i < kSwitchRuns; ++i) {
        view.section = from;
        QtEnvironment::processEvents();
        QtEnvironment::processEvents();
        evaluated.reset();
        const auto start = Clock::now();
        view.section = to;
        while (!evaluated) {
            QtEnvironment::processEvents();
        }
        const auto reconciled = *evaluated;
        // The evaluation posts the layout requests; the second turn delivers what the first
        // one's layouts posted in turn.
        QtEnvironment::processEvents();
        QtEnvironment::processEvents();
        const auto end = Clock::now();
        evaluation.push_back(millis(start, reconciled));
        layout.push_back(millis(reconciled, end));
        total.push_back(millis(start, end));
    }
    return {summarise(evaluation), summarise(layout), summarise(total)};
}

}  // namespace

int main(int argc, char** argv) {
    QtEnvironment qt(argc, argv, /*offscreen=*/true);
    RunLoop::install(std::make_unique<QtRunLoop>());
    auto owned = std::make_unique<SimPlatform>();
    SimPlatform& sim = *owned;
    Platform::install(std::move(owned));
    sim.log().setMinimumLevel(LogLevel::Error);
    const std::string root = "/tmp/orvel-help-pages-bench-" + std::to_string(::getpid());
    sim.paths().setRoot(root);
    std::filesystem::create_directories(sim.paths().resourcesDirectory());
    std::filesystem::copy(ORVEL_LICENSES, sim.paths().resourcesDirectory() + "/licenses");
    setCurrentLocaleIdentifier("en_US");
    auto host = std::make_unique<QtHost>();
    QtHost& qtHost = *host;
    UiHost::install(std::move(host));
    {
        auto view = std::make_shared<HelpView>();
        auto window = qtHost.makeWindow();
        window->setContent(view);
        window->setContentSize(900, 620);
        window->makeKeyAndOrderFront();
        QtEnvironment::processEvents();
        auto& qtWindow = static_cast<QtWindow&>(*window);

        std::printf("%-26s %14s   %-38s\n", "", "body (us)", "switch in the Qt host (ms)");
        std::printf("%-26s %7s %6s   %7s %7s %7s %7s\n", "page", "median", "p95", "eval", "layout",
                    "total", "max");
        std::size_t blocks = 0;
        Figures slowest;
        std::string slowestTitle;
        for (const auto& c : EnumTraits<HelpSection>::cases) {
            std::vector<double> body;
            for (int i = 0; i < kBodyRuns; ++i) {
                body.push_back(
                    micros([&] { blocks += help::pageBody(c.value).node().children.size(); }));
            }
            const Figures b = summarise(body);
            const HelpSection from =
                c.value == HelpSection::whatItDoes ? HelpSection::theMenu : HelpSection::whatItDoes;
            const Switch s = measureSwitch(*view, qtWindow, from, c.value);
            std::printf("%-26s %7.1f %6.1f   %7.2f %7.2f %7.2f %7.2f\n", title(c.value).c_str(),
                        b.median, b.p95, s.evaluation.median, s.layout.median, s.total.median,
                        s.total.max);
            if (s.total.median > slowest.median) {
                slowest = s.total;
                slowestTitle = title(c.value);
            }
        }
        std::printf("slowest switch: %s, median %.2f ms (%zu blocks built in all)\n",
                    slowestTitle.c_str(), slowest.median, blocks);
    }
    UiHost::install(nullptr);
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
    std::filesystem::remove_all(root);
    return 0;
}
