// The sixteen help pages: each page's body alone (headless, microseconds of the thread's CPU
// time, median of many), and the switch to it in the Help window under the offscreen Qt host
// (the evaluation with the renderer's reconciliation, then the layout; milliseconds of the main
// thread's CPU time, median of several, with the wall time beside). Each switch starts from
// another page, so the renderer replaces the whole detail as it does when the user picks a row.

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Figures.h"
#include "HelpBenchMachine.h"
#include "app/compose/Services.h"
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
    Figures evaluation;  // the body and the reconciliation, CPU
    Figures layout;      // CPU
    Figures total;       // CPU
    Figures wall;
};

// Turns the shown window's view to `to` from `from`, `runs` times. Layout runs on the main
// thread under the offscreen platform, so its CPU time is the switch's cost whatever else the
// machine is doing; the wall time is printed beside it.
Switch measureSwitch(HelpView& view, QtWindow& window, HelpSection from, HelpSection to) {
    std::optional<double> evaluated;
    // Subscribed after the renderer, so it hears of an evaluation once the widgets match it.
    const Subscription done =
        window.viewHost()->evaluated.subscribe([&] { evaluated = bench::threadMicros(); });
    std::vector<double> evaluation, layout, total, wall;
    for (int i = 0; i < kSwitchRuns; ++i) {
        view.section = from;
        QtEnvironment::processEvents();
        QtEnvironment::processEvents();
        evaluated.reset();
        const auto startWall = Clock::now();
        const double start = bench::threadMicros();
        view.section = to;
        while (!evaluated) {
            QtEnvironment::processEvents();
        }
        const double reconciled = *evaluated;
        // The evaluation posts the layout requests; the second turn delivers what the first
        // one's layouts posted in turn.
        QtEnvironment::processEvents();
        QtEnvironment::processEvents();
        const double end = bench::threadMicros();
        wall.push_back(millis(startWall, Clock::now()));
        evaluation.push_back((reconciled - start) / 1e3);
        layout.push_back((end - reconciled) / 1e3);
        total.push_back((end - start) / 1e3);
    }
    return {summarise(evaluation), summarise(layout), summarise(total), summarise(wall)};
}

}  // namespace

int main(int argc, char** argv) {
    bench::HelpBenchMachine machine(argc, argv, "help-pages-bench");
    QtHost& qtHost = machine.host();
    {
        // The bodies first, before any widget exists, so that they are timed on a heap the Qt
        // host has not yet churned.
        std::size_t blocks = 0;
        std::vector<Figures> bodies;
        for (const auto& c : EnumTraits<HelpSection>::cases) {
            std::vector<double> body;
            for (int i = 0; i < kBodyRuns; ++i) {
                body.push_back(micros([&] {
                    blocks +=
                        machine.services().helpPages().pageBody(c.value).node().children.size();
                }));
            }
            bodies.push_back(summarise(body));
        }

        auto view = std::make_shared<HelpView>(machine.services().helpPages());
        auto window = qtHost.makeWindow();
        window->setContent(view);
        window->setContentSize(900, 620);
        window->makeKeyAndOrderFront();
        QtEnvironment::processEvents();
        auto& qtWindow = static_cast<QtWindow&>(*window);

        std::printf("%-26s %14s   %-38s\n", "", "body (us CPU)", "switch in the Qt host (ms)");
        std::printf("%-26s %7s %6s   %7s %7s %7s %7s %7s\n", "page", "median", "p95", "eval",
                    "layout", "CPU", "max", "wall");
        Figures slowest;
        std::string slowestTitle;
        for (const auto& c : EnumTraits<HelpSection>::cases) {
            const Figures& b = bodies[static_cast<std::size_t>(c.value)];
            const HelpSection from =
                c.value == HelpSection::whatItDoes ? HelpSection::theMenu : HelpSection::whatItDoes;
            const Switch s = measureSwitch(*view, qtWindow, from, c.value);
            std::printf("%-26s %7.1f %6.1f   %7.2f %7.2f %7.2f %7.2f %7.2f\n",
                        title(c.value).c_str(), b.median, b.p95, s.evaluation.median,
                        s.layout.median, s.total.median, s.total.max, s.wall.median);
            if (s.total.median > slowest.median) {
                slowest = s.total;
                slowestTitle = title(c.value);
            }
        }
        std::printf("slowest switch: %s, median %.2f ms of CPU (%zu blocks built in all)\n",
                    slowestTitle.c_str(), slowest.median, blocks);
    }
    return 0;
}
