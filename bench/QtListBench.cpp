// Re-evaluating and reconciling a 200-row list after one change, with the Qt host under the
// offscreen platform. Prints the time per update (median and 95th percentile of many), the
// widgets made by the updates (none expected), the renderer's share of it, and for comparison
// the same update followed by Qt's own layout pass.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/Published.h"
#include "foundation/Registry.h"
#include "platform/sim/SimPlatform.h"
#include "ui/qt/QtEnvironment.h"
#include "ui/qt/QtHost.h"
#include "ui/qt/QtRenderer.h"
#include "ui/qt/QtRunLoop.h"
#include "ui/qt/QtWindow.h"

using namespace orvel;
using namespace orvel::ui;

namespace {

struct Row {
    std::string id;
    std::string title;
    bool on = false;
};

class Rows final : public ViewComponent {
  public:
    Published<std::vector<Row>> rows{*this, {}};
    View body() override {
        return List({ForEach<Row>(
            rows(), [](const Row& row) { return row.id; },
            [this](const Row& row) {
                const std::string id = row.id;
                return HStack(
                    {Image(row.on ? "checkmark.circle.fill" : "circle"),
                     VStack(HAlign::leading, 1,
                            {TextVerbatim(row.title), TextVerbatim("Row " + id)
                                                          .font(Font::system(11))
                                                          .foregroundStyle(Hierarchy::secondary)}),
                     Spacer(),
                     Toggle("On",
                            Binding<bool>{[this, id] { return find(id).on; }, [](const bool&) {}})
                         .labelsHidden()});
            })});
    }

  private:
    const Row& find(const std::string& id) {
        for (const Row& row : rows()) {
            if (row.id == id)
                return row;
        }
        return rows().front();
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double percentile95(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * 95 / 100)];
}

}  // namespace

int main(int argc, char** argv) {
    QtEnvironment qt(argc, argv, /*offscreen=*/true);
    RunLoop::install(std::make_unique<QtRunLoop>());
    Platform::install(std::make_unique<SimPlatform>());
    auto host = std::make_unique<QtHost>(HostCapabilities::of(Platform::current()));
    QtHost& qtHost = *host;
    UiHost::install(std::move(host));
    {
        auto view = std::make_shared<Rows>();
        std::vector<Row> rows;
        for (int i = 0; i < 200; ++i) {
            rows.push_back(Row{"r" + std::to_string(i), "Rule " + std::to_string(i), i % 3 == 0});
        }
        view->rows = rows;
        auto window = qtHost.makeWindow();
        window->setContent(view);
        window->setContentSize(420, 600);
        window->makeKeyAndOrderFront();
        auto& qtWindow = static_cast<QtWindow&>(*window);
        QtEnvironment::processEvents();
        const auto widgetsAtStart = qtWindow.renderer()->widgetsCreated();

        using Clock = std::chrono::steady_clock;
        const auto ms = [](Clock::duration d) {
            return std::chrono::duration<double, std::milli>(d).count();
        };
        constexpr int kUpdates = 500;
        std::vector<double> update, withLayout, reconcileOnly;
        for (int i = 0; i < kUpdates; ++i) {
            rows[static_cast<std::size_t>(i % 200)].on =
                !rows[static_cast<std::size_t>(i % 200)].on;
            view->rows = rows;
            const auto start = Clock::now();
            qtWindow.viewHost()->evaluate();  // the body, then the renderer's reconciliation
            const auto evaluated = Clock::now();
            QtEnvironment::processEvents();  // Qt's layout of what changed
            const auto laidOut = Clock::now();
            update.push_back(ms(evaluated - start));
            withLayout.push_back(ms(laidOut - start));
            const auto again = Clock::now();
            qtWindow.renderer()->render();  // the same tree once more: reconciliation alone
            reconcileOnly.push_back(ms(Clock::now() - again));
        }
        std::printf("200-row list, one row changed, %d updates\n", kUpdates);
        std::printf("  evaluate + reconcile: median %.3f ms, p95 %.3f ms\n", median(update),
                    percentile95(update));
        std::printf("  reconcile alone:      median %.3f ms, p95 %.3f ms\n", median(reconcileOnly),
                    percentile95(reconcileOnly));
        std::printf("  ... + Qt layout:      median %.3f ms, p95 %.3f ms\n", median(withLayout),
                    percentile95(withLayout));
        std::printf("  widgets made by the updates: %llu\n",
                    static_cast<unsigned long long>(qtWindow.renderer()->widgetsCreated() -
                                                    widgetsAtStart));
        std::printf("  frame budget: 16.7 ms\n");
    }
    UiHost::install(nullptr);
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
    return 0;
}
