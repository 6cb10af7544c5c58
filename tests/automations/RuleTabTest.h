#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/UUID.h"
#include "support/SessionTest.h"
#include "triggers/TriggerEngine.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

namespace orvel::test {

// A rule sub-tab shown in the headless host; each test class says how its page is made.
template <typename Page>
class RuleTabTest : public SessionTest {
  protected:
    // The host goes before the session, so no view outlives the services it watches.
    void TearDown() override {
        pageHost.reset();
        page.reset();
        SessionTest::TearDown();
    }
    virtual std::shared_ptr<Page> makePage() = 0;

    TriggerEngine& engine() { return services().triggerEngine(); }
    // The sub-tab as the page builds it each time it is chosen: nothing open.
    void show() {
        pageHost.reset();
        page = makePage();
        pageHost = std::make_unique<ui::ViewHost>(page);
        pageHost->setShown(true);
    }
    ui::Inspector view() {
        loop().drain();
        pageHost->evaluate();
        return ui::Inspector(*pageHost);
    }
    // The texts after `header` and before the first text starting with `captionPrefix`.
    std::vector<std::string> textsBetween(std::string_view header, std::string_view captionPrefix) {
        const auto all = view().texts();
        auto first = std::find(all.begin(), all.end(), header);
        auto last = std::find_if(all.begin(), all.end(), [&](const std::string& t) {
            return t.starts_with(captionPrefix);
        });
        if (first == all.end() || last == all.end() || last < first) {
            return {"(section not found)"};
        }
        return {first + 1, last};
    }
    const TriggerRule* storedRule(const UUID& id) {
        for (const TriggerRule& rule : engine().rules()) {
            if (rule.id == id) {
                return &rule;
            }
        }
        return nullptr;
    }

    std::shared_ptr<Page> page;
    std::unique_ptr<ui::ViewHost> pageHost;
};

}  // namespace orvel::test
