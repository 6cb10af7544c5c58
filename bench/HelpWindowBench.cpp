// The Help window with the Qt host under the offscreen platform: one keystroke in its search
// (the filter, the sidebar's re-evaluation and the renderer's reconciliation), in microseconds of
// the thread's CPU time; its first opening on the Acknowledgments page and a re-show after
// closing, laid out, in milliseconds of wall time; and the switch from a short page to each page,
// split into the evaluation with the renderer's reconciliation and the layout with painting that
// follow, in milliseconds of the thread's CPU time.

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Figures.h"
#include "HelpBenchMachine.h"
#include "app/compose/Services.h"
#include "foundation/DateFormatting.h"
#include "foundation/Registry.h"
#include "help/HelpView.h"
#include "platform/sim/SimPlatform.h"
#include "ui/qt/QtEnvironment.h"
#include "ui/qt/QtHost.h"
#include "ui/qt/QtRenderer.h"
#include "ui/qt/QtRunLoop.h"
#include "ui/qt/QtWindow.h"

using namespace orvel;
using namespace orvel::ui;
using bench::Figures;
using bench::micros;
using bench::summarise;

namespace {

using Clock = std::chrono::steady_clock;

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    bench::HelpBenchMachine machine(argc, argv, "help-bench");
    QtHost& qtHost = machine.host();
    {
        std::vector<double> firstOpen, reshow;
        for (int i = 0; i < 5; ++i) {
            const auto start = Clock::now();
            auto window = qtHost.makeWindow();
            window->setContent(std::make_shared<HelpView>(machine.services().helpPages(),
                                                          HelpSection::acknowledgments));
            window->setContentSize(900, 620);
            window->makeKeyAndOrderFront();
            QtEnvironment::processEvents();
            firstOpen.push_back(millisSince(start));
            window->close();
            QtEnvironment::processEvents();
            const auto again = Clock::now();
            window->makeKeyAndOrderFront();
            QtEnvironment::processEvents();
            reshow.push_back(millisSince(again));
        }

        auto view = std::make_shared<HelpView>(machine.services().helpPages());
        auto window = qtHost.makeWindow();
        window->setContent(view);
        window->setContentSize(900, 620);
        window->makeKeyAndOrderFront();
        QtEnvironment::processEvents();
        auto& qtWindow = static_cast<QtWindow&>(*window);
        std::vector<double> keystroke;
        const std::string typed = "wake sleep";
        for (int round = 0; round < 50; ++round) {
            for (std::size_t n = 0; n <= typed.size(); ++n) {
                view->query = typed.substr(0, n);
                // The filter runs in the body; the renderer reconciles the new tree.
                keystroke.push_back(micros([&] { qtWindow.viewHost()->evaluate(); }));
            }
        }
        // A short page between two switches, so each switch builds its page anew.
        const HelpSection pages[] = {HelpSection::troubleshooting, HelpSection::acknowledgments,
                                     HelpSection::commandLine,     HelpSection::permissions,
                                     HelpSection::shortcuts,       HelpSection::languages};
        std::printf("switch from a short page to a page (thread CPU, ms):\n");
        for (const HelpSection page : pages) {
            std::vector<double> build, layout, total;
            for (int round = 0; round < 7; ++round) {
                view->section = page == HelpSection::languages ? HelpSection::whatItDoes
                                                               : HelpSection::languages;
                qtWindow.viewHost()->evaluate();
                QtEnvironment::processEvents();
                view->section = page;
                const double built = micros([&] { qtWindow.viewHost()->evaluate(); });
                const double laid = micros([] { QtEnvironment::processEvents(); });
                build.push_back(built / 1000);
                layout.push_back(laid / 1000);
                total.push_back((built + laid) / 1000);
            }
            const double first = total.front();
            const Figures b = summarise(build);
            const Figures l = summarise(layout);
            const Figures t = summarise(total);
            std::printf(
                "  %-26s evaluate+reconcile %7.1f   layout+paint %7.1f   total median "
                "%7.1f   first %7.1f\n",
                title(page).c_str(), b.median, l.median, t.median, first);
        }

        const Figures open = summarise(firstOpen);
        const Figures back = summarise(reshow);
        const Figures key = summarise(keystroke);
        std::printf("Help, first open on Acknowledgments: median %7.1f ms   max %7.1f ms\n",
                    open.median, open.max);
        std::printf("Help, re-show after closing:         median %7.1f ms   max %7.1f ms\n",
                    back.median, back.max);
        std::printf("one search keystroke end to end:     median %7.1f us   p95 %7.1f us\n",
                    key.median, key.p95);
    }
    return 0;
}
