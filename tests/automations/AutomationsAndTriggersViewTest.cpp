#include "automations/AutomationsAndTriggersView.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/compose/Services.h"
#include "automations/RuleTextEdits.h"
#include "core/Preferences.h"
#include "foundation/Registry.h"
#include "support/UiTest.h"
#include "triggers/TriggerEngine.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

namespace orvel {
namespace {

using ui::Inspector;
using ui::Node;
using ui::View;
using Page = AutomationsAndTriggersView;

// A rule page with view state of its own and the name field of every rule.
class StatefulPage final : public ui::ViewComponent {
  public:
    explicit StatefulPage(TriggerEngine& engine) : engine_(engine), edits(engine) {}

  private:
    TriggerEngine& engine_;

  public:
    Published<bool> editorOpen{*this, false};
    RuleTextEdits edits;

    View body() override {
        std::vector<View> rows{ui::TextVerbatim(editorOpen() ? "editor open" : "nothing open")};
        for (const TriggerRule& rule : engine_.rules()) {
            rows.push_back(edits.field(
                "Name", rule, "name", [](const TriggerRule& r) { return r.name; },
                [](TriggerRule& r, const std::string& text) { r.name = text; }));
        }
        return ui::VStack(std::move(rows));
    }
    std::vector<ObservableObject*> observedObjects() override { return {&engine_, &edits}; }
};

// The identity of every node, in tree order.
void collectIds(const Node& node, std::vector<std::string>& out) {
    if (node.id) {
        out.push_back(*node.id);
    }
    for (const View& child : node.children) {
        collectIds(child.node(), out);
    }
    for (const auto* part : {&node.header, &node.footer}) {
        if (*part) {
            collectIds((*part)->node(), out);
        }
    }
}

class AutomationsAndTriggersViewTest : public test::UiTest {
  protected:
    void TearDown() override {
        pageHost.reset();
        page.reset();
        UiTest::TearDown();
    }
    MemoryUserDefaults& d() { return sim().userDefaults(); }
    // Hosts the page as the Settings window makes it, bound to the stored key.
    void open(Page::PageMaker makePage = {}) {
        pageHost.reset();
        page = std::make_shared<Page>(
            ui::Binding<std::int64_t>{
                [this] { return d().integerForKey(Page::kSubTabKey); },
                [this](const std::int64_t& tag) { d().setInteger(Page::kSubTabKey, tag); }},
            services().automationServices(), std::move(makePage));
        pageHost = std::make_unique<ui::ViewHost>(page);
        pageHost->setShown(true);
    }
    // What is shown once the loop has run what a change asked for; nothing re-evaluates
    // the page by hand.
    Inspector shown() {
        loop().drain();
        return Inspector(*pageHost);
    }
    // The keys of the sub-tab pages in the tree.
    std::vector<std::string> pagesShown() {
        loop().drain();
        std::vector<std::string> ids;
        collectIds(pageHost->tree().node(), ids);
        std::vector<std::string> pages;
        for (const std::string& id : ids) {
            if (id.starts_with("subTab.")) {
                pages.push_back(id.substr(7));
            }
        }
        return pages;
    }
    // The picker's selection and the segment it selects, if any.
    std::optional<std::string> selectedSegment() {
        auto found = shown().control("Triggers");
        if (!found || found->node->kind != ui::NodeKind::picker) {
            ADD_FAILURE() << "no sub-tab picker";
            return std::nullopt;
        }
        const std::string selection = found->node->textBinding.get();
        for (const View& option : found->node->children) {
            if (option.node().tag == selection) {
                return Inspector::textsOf(option.node());
            }
        }
        return std::nullopt;
    }
    bool pick(const std::string& tag) {
        const bool picked = shown().pick("Triggers", tag);
        loop().drain();
        return picked;
    }

    std::shared_ptr<Page> page;
    std::unique_ptr<ui::ViewHost> pageHost;
};

TEST_F(AutomationsAndTriggersViewTest, FirstLaunchShowsTriggersWithSixSegmentsInTheirOrder) {
    open();
    EXPECT_EQ(selectedSegment(), "Triggers");
    EXPECT_EQ(pagesShown(), std::vector<std::string>{"triggers"});
    EXPECT_TRUE(shown().contains("ALWAYS FIRST")) << "the real Triggers page";
    auto picker = shown().control("Triggers");
    ASSERT_TRUE(picker);
    std::vector<std::string> segments;
    for (const View& option : picker->node->children) {
        segments.push_back(Inspector::textsOf(option.node()) + "=" + *option.node().tag);
    }
    EXPECT_EQ(segments, (std::vector<std::string>{"Triggers=0", "Schedule=4", "Bluetooth=1",
                                                  "Network=2", "Apps=5", "Battery=3"}));
    const auto texts = shown().texts();
    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ(
        std::vector<std::string>(texts.begin(), texts.begin() + 4),
        (std::vector<std::string>{
            "Automations", "Re-apply after waking from sleep",
            "Applies to indefinite sessions. A timed session ends when the computer sleeps, so "
            "there is nothing to re-apply.",
            "Notify me when a timed session ends"}));
}

TEST_F(AutomationsAndTriggersViewTest, EachSegmentStoresItsTagShowsItsPageAndSurvivesARelaunch) {
    struct Case {
        const char* segment;
        const char* tag;
        const char* page;
    };
    const Case cases[] = {
        {"Schedule", "4", "schedule"}, {"Bluetooth", "1", "bluetooth"},
        {"Network", "2", "network"},   {"Apps", "5", "apps"},
        {"Battery", "3", "battery"},   {"Triggers", "0", "triggers"},
    };
    open();
    for (const Case& c : cases) {
        ASSERT_TRUE(pick(c.tag)) << c.segment;
        EXPECT_EQ(d().integerForKey(Page::kSubTabKey), std::stoll(c.tag)) << c.segment;
        EXPECT_EQ(selectedSegment(), c.segment);
        EXPECT_EQ(pagesShown(), std::vector<std::string>{c.page}) << c.segment;
    }
    ASSERT_TRUE(pick("4"));
    open();
    EXPECT_EQ(selectedSegment(), "Schedule") << "a new page reads the stored sub-tab";
    EXPECT_EQ(pagesShown(), std::vector<std::string>{"schedule"});
}

TEST_F(AutomationsAndTriggersViewTest, AValueNoSegmentCarriesShowsBatteryWithNoSegmentSelected) {
    d().setInteger(Page::kSubTabKey, 3);
    open();
    EXPECT_EQ(selectedSegment(), "Battery");
    EXPECT_EQ(pagesShown(), std::vector<std::string>{"battery"});
    for (std::int64_t stored : {7, -1, 6}) {
        d().setInteger(Page::kSubTabKey, stored);
        EXPECT_EQ(selectedSegment(), std::nullopt) << stored;
        EXPECT_EQ(pagesShown(), std::vector<std::string>{"battery"}) << stored;
        EXPECT_EQ(d().integerForKey(Page::kSubTabKey), stored) << "kept until the user picks";
    }
}

TEST_F(AutomationsAndTriggersViewTest, AnOutsideWriteSwitchesThePageWithoutAnyOtherCall) {
    open();
    ASSERT_EQ(pagesShown(), std::vector<std::string>{"triggers"});
    d().setInteger(Page::kSubTabKey, Page::kApps);
    EXPECT_EQ(pagesShown(), std::vector<std::string>{"apps"});
    EXPECT_EQ(selectedSegment(), "Apps");
}

TEST_F(AutomationsAndTriggersViewTest, TheTogglesWriteTheirSettingsAndFollowChangesElsewhere) {
    open();
    ASSERT_EQ(shown().toggleValue("Notify me when a timed session ends"), true);
    ASSERT_TRUE(shown().setToggle("Notify me when a timed session ends", false));
    EXPECT_TRUE(d().persistentValue("notifyOnEnd").has_value()) << "stored, not just shown";
    EXPECT_FALSE(d().boolForKey("notifyOnEnd"));
    EXPECT_FALSE(services().preferences().notifyOnEnd());
    open();
    EXPECT_EQ(shown().toggleValue("Notify me when a timed session ends"), false);

    ASSERT_EQ(shown().toggleValue("Re-apply after waking from sleep"), true);
    services().preferences().reassertOnWake = false;
    EXPECT_EQ(shown().toggleValue("Re-apply after waking from sleep"), false);
    EXPECT_EQ(shown().toggleValue("Notify me when a timed session ends"), false)
        << "one toggle's change leaves the other";
}

TEST_F(AutomationsAndTriggersViewTest, ASubTabStartsFreshEachTimeItIsShown) {
    std::vector<std::weak_ptr<StatefulPage>> made;
    open([&made, this](std::int64_t) {
        auto p = std::make_shared<StatefulPage>(services().triggerEngine());
        made.push_back(p);
        return p;
    });
    ASSERT_TRUE(pick("1"));
    ASSERT_EQ(made.size(), 2u);
    made.back().lock()->editorOpen = true;
    ASSERT_TRUE(shown().contains("editor open"));
    ASSERT_TRUE(pick("2"));
    ASSERT_TRUE(pick("1"));
    EXPECT_TRUE(shown().contains("nothing open"));
    EXPECT_EQ(made.size(), 4u) << "one page per switch";
    for (std::size_t i = 0; i + 1 < made.size(); ++i) {
        EXPECT_TRUE(made[i].expired()) << "page " << i << " is released";
    }
}

TEST_F(AutomationsAndTriggersViewTest, TextStillWaitingIsWrittenWhenItsSubTabGoesAway) {
    TriggerRule desk;
    desk.name = "Desk";
    services().triggerEngine().add(desk);
    d().setInteger(Page::kSubTabKey, Page::kBluetooth);
    open([this](std::int64_t) {
        return std::make_shared<StatefulPage>(services().triggerEngine());
    });
    ASSERT_TRUE(shown().type("Name", " left"));
    loop().drain();
    ASSERT_EQ(services().triggerEngine().rules().front().name, "Desk") << "still waiting";

    ASSERT_TRUE(pick("4"));
    loop().drain();
    EXPECT_EQ(services().triggerEngine().rules().front().name, "Desk left")
        << "written without waiting for the delay";
}

}  // namespace
}  // namespace orvel
