#include "automations/RuleRow.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "automations/ACOnlyToggle.h"
#include "automations/ActionPicker.h"
#include "automations/DurationPicker.h"
#include "automations/EditorFooter.h"
#include "core/ActivityLog.h"
#include "platform/Platform.h"
#include "reports/PermissionAudit.h"
#include "support/UiTest.h"
#include "triggers/TriggerEngine.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

namespace orvel {
namespace {

using ui::Inspector;
using ui::View;

constexpr const char* kHeadphonesId = "a4-83-e7-11-22-33";

// A rule list as the sub-tabs build theirs, with every shared widget in the editor.
class RuleList final : public ui::ViewComponent {
  public:
    explicit RuleList(TriggerEngine& engine) : engine_(engine) {}
    Published<std::set<UUID>> expanded{*this, {}};

    ExpandedRules binding() {
        return ExpandedRules{[this] { return expanded(); },
                             [this](const std::set<UUID>& ids) { expanded = ids; }};
    }
    View body() override {
        std::vector<View> rows;
        RuleEditor editor = [this](const TriggerRule& rule) {
            TriggerEngine& engine = engine_;
            return ui::VStack(
                {DurationPicker{engine, rule}.body(),
                 ActionPicker{engine, "When it appears", rule, &TriggerRule::onAppear}.body(),
                 ActionPicker{engine, "When it clears", rule, &TriggerRule::onClear}.body(),
                 ACOnlyToggle{engine, rule}.body(), EditorFooter{engine, rule, binding()}.body()});
        };
        for (const TriggerRule& rule : engine_.rules()) {
            rows.push_back(
                RuleRow{engine_, Platform::current().network(), rule, binding(), editor}.body().id(
                    rule.id.uuidString()));
        }
        return ui::VStack(std::move(rows));
    }
    std::vector<ObservableObject*> observedObjects() override { return {&engine_, this}; }

  private:
    TriggerEngine& engine_;
};

class RuleWidgetsTest : public test::UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        sim().bluetooth().pair(BluetoothDevice{kHeadphonesId, "Headphones", false});
        desk.name = "Desk";
        desk.btAddress = kHeadphonesId;
        desk.durationSeconds = 3600;
        engine().add(desk);
        list = std::make_shared<RuleList>(services().triggerEngine());
        pageHost = std::make_unique<ui::ViewHost>(list);
        pageHost->setShown(true);
        counting = engine().rules.subscribe([this](const auto&) { ++updates; });
    }
    void TearDown() override {
        pageHost.reset();
        list.reset();
        UiTest::TearDown();
    }
    TriggerEngine& engine() { return services().triggerEngine(); }
    const TriggerRule& stored() { return engine().rules().front(); }
    Inspector view() {
        loop().drain();
        pageHost->evaluate();
        return Inspector(*pageHost);
    }
    void open() {
        list->expanded = {desk.id};
        updates = 0;
    }

    TriggerRule desk;
    std::shared_ptr<RuleList> list;
    std::unique_ptr<ui::ViewHost> pageHost;
    int updates = 0;
    Subscription counting;
};

TEST_F(RuleWidgetsTest, HeaderTapOpensAndClosesTheEditorAndCollapseOnlyCloses) {
    EXPECT_FALSE(view().contains("Session duration"));
    ASSERT_TRUE(view().click("Desk"));
    EXPECT_EQ(list->expanded(), std::set<UUID>{desk.id});
    EXPECT_TRUE(view().contains("Session duration"));
    ASSERT_TRUE(view().click("Desk"));
    EXPECT_TRUE(list->expanded().empty());
    ASSERT_TRUE(view().click("Desk"));
    ASSERT_TRUE(view().click("Collapse"));
    EXPECT_TRUE(list->expanded().empty());
    EXPECT_FALSE(view().contains("Collapse"));
    ASSERT_TRUE(view().click("Desk"));
    EXPECT_TRUE(view().contains("Collapse")) << "a tap opens it again after Collapse";
    EXPECT_EQ(updates, 0) << "opening and closing never writes the rule";
}

TEST_F(RuleWidgetsTest, BadgesFollowAvailabilityHoldingAndLocation) {
    using Loc = LocationAuthorization;
    struct Case {
        const char* what;
        bool unavailable, enabled, connected, ssid;
        Loc location;
        std::vector<std::string> badges;
    };
    const Case cases[] = {
        {"quiet", false, true, false, false, Loc::denied, {}},
        {"holding", false, true, true, false, Loc::denied, {"HOLDING"}},
        {"disabled while holding", false, false, true, false, Loc::denied, {}},
        {"unavailable while holding",
         true,
         true,
         true,
         false,
         Loc::denied,
         {"UNAVAILABLE ON THIS COMPUTER"}},
        {"ssid, not determined", false, true, false, true, Loc::notDetermined, {"NEEDS LOCATION"}},
        {"ssid, when in use",
         false,
         true,
         false,
         true,
         Loc::authorizedWhenInUse,
         {"NEEDS LOCATION"}},
        {"ssid, always", false, true, false, true, Loc::authorizedAlways, {}},
        {"both slots",
         true,
         true,
         false,
         true,
         Loc::restricted,
         {"UNAVAILABLE ON THIS COMPUTER", "NEEDS LOCATION"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim().bluetooth().setConnectedSilently(kHeadphonesId, c.connected);
        sim().network().setLocationAuthorization(c.location);
        TriggerRule rule = desk;
        rule.unavailableHere = c.unavailable;
        rule.enabled = c.enabled;
        if (c.ssid) {
            rule.matcher = NetworkMatcher::ssid("Office");
        }
        const RuleRow row{engine(), sim().network(), rule, list->binding(), nullptr};
        const auto testsBefore = RuleRow::holdingTestCount();
        std::vector<std::string> shown;
        for (const auto& badge : {row.firstBadge(), row.secondBadge()}) {
            if (badge) {
                shown.push_back(badge->text);
            }
        }
        EXPECT_EQ(shown, c.badges);
        if (c.unavailable || !c.enabled) {
            EXPECT_EQ(RuleRow::holdingTestCount(), testsBefore) << "no holding test was made";
        }
    }
}

// A rule made before its device or application is chosen stays on, as it was made, but cannot
// fire: whatever is connected or running, its row and the reports say what it waits for and it
// never counts as holding, also while it is off; choosing one lets its condition hold.
TEST_F(RuleWidgetsTest, ARuleWithoutItsDeviceOrApplicationSaysItCannotFireUntilOneIsChosen) {
    struct Case {
        TriggerSource source;
        const char* badge;
        const char* note;
        std::function<void(TriggerRule&)> choose;
    };
    const Case cases[] = {
        {TriggerSource::bluetooth, "CHOOSE A DEVICE", "cannot fire until a device is chosen",
         [](TriggerRule& rule) { rule.btAddress = kHeadphonesId; }},
        {TriggerSource::app, "CHOOSE AN APPLICATION", "cannot fire until an application is chosen",
         [](TriggerRule& rule) { rule.appBundleID = "org.example.Editor"; }},
    };
    sim().bluetooth().setAuthorization(BluetoothAuthorization::allowedAlways);
    sim().bluetooth().setConnectedSilently(kHeadphonesId, true);
    sim().workspace().launch(std::string("org.example.Editor"), std::string("Editor"));
    const auto report = [this] { return services().permissionAudit().reportSections(); };
    const auto has = [](const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.badge);
        engine().rules = {};
        TriggerRule rule;
        rule.name = "Waiting";
        rule.source = c.source;
        engine().add(rule);
        EXPECT_TRUE(view().contains(c.badge));
        EXPECT_FALSE(view().contains("HOLDING"));
        EXPECT_TRUE(has(report(), "\n  holding now: none\n"));
        EXPECT_TRUE(has(report(), "\n  " + std::string(c.note) + ": Waiting\n"));
        EXPECT_TRUE(has(engine().diagnosticSection(false),
                        "clear\u2192endSession \u00B7 " + std::string(c.note) + "\n"));

        rule.enabled = false;
        engine().update(rule);
        EXPECT_TRUE(view().contains(c.badge)) << "still says so while off";
        EXPECT_FALSE(has(report(), c.note)) << "an off rule is not among those that look armed";

        rule.enabled = true;
        c.choose(rule);
        engine().update(rule);
        EXPECT_FALSE(view().contains(c.badge));
        EXPECT_TRUE(view().contains("HOLDING"));
        EXPECT_TRUE(has(report(), "\n  holding now: Waiting\n"));
        EXPECT_FALSE(has(report(), c.note));
    }
}

TEST_F(RuleWidgetsTest, AnUnavailableRulesSwitchCannotBeFlipped) {
    TriggerRule rule = stored();
    rule.unavailableHere = true;
    engine().update(rule);
    EXPECT_FALSE(view().setToggle("Enable Desk", false));
    EXPECT_TRUE(stored().enabled);
}

TEST_F(RuleWidgetsTest, AnUnlistedDurationSelectsNothingUntilTheUserPicks) {
    TriggerRule rule = stored();
    rule.durationSeconds = 5400;
    engine().update(rule);
    open();
    const auto selected = view().selection("Session duration");
    for (const DurationChoice& choice : DurationChoice::all()) {
        EXPECT_NE(selected, std::to_string(choice.secs)) << choice.label;
    }
    EXPECT_EQ(stored().durationSeconds, 5400);
    EXPECT_EQ(updates, 0);
    ASSERT_TRUE(view().pick("Session duration", "7200"));
    EXPECT_EQ(stored().durationSeconds, 7200);
}

TEST_F(RuleWidgetsTest, EachControlWritesOnceAndOnlyItsOwnField) {
    struct Case {
        const char* control;
        std::function<bool(Inspector&)> work;
        std::function<void(TriggerRule&)> expected;
    };
    const Case cases[] = {
        {"duration", [](Inspector& v) { return v.pick("Session duration", "1800"); },
         [](TriggerRule& r) { r.durationSeconds = 1800; }},
        {"appear action", [](Inspector& v) { return v.pick("When it appears", "nothing"); },
         [](TriggerRule& r) { r.onAppear = TriggerAction::nothing; }},
        {"clear action", [](Inspector& v) { return v.pick("When it clears", "startSession"); },
         [](TriggerRule& r) { r.onClear = TriggerAction::startSession; }},
        {"AC only", [](Inspector& v) { return v.setToggle("Only while on AC power", true); },
         [](TriggerRule& r) { r.acOnly = true; }},
        {"enable switch", [](Inspector& v) { return v.setToggle("Enable Desk", false); },
         [](TriggerRule& r) { r.enabled = false; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        engine().update(desk);
        open();
        Inspector v = view();
        ASSERT_TRUE(c.work(v)) << v.lastFailure();
        TriggerRule expected = desk;
        c.expected(expected);
        EXPECT_EQ(updates, 1);
        EXPECT_EQ(stored(), expected);
    }
}

TEST_F(RuleWidgetsTest, TwoControlsDrawnFromOneTreeBothPersist) {
    open();
    Inspector v = view();
    ASSERT_TRUE(v.pick("Session duration", "14400"));
    ASSERT_TRUE(v.setToggle("Only while on AC power", true));  // the tree is not redrawn between
    ASSERT_TRUE(v.pick("When it clears", "nothing"));
    EXPECT_EQ(stored().durationSeconds, 14400);
    EXPECT_TRUE(stored().acOnly);
    EXPECT_EQ(stored().onClear, TriggerAction::nothing);
}

TEST_F(RuleWidgetsTest, TestStartsASessionAndOnADisabledRuleOnlyLogsTheSimulation) {
    for (bool enabled : {false, true}) {
        SCOPED_TRACE(enabled ? "enabled" : "disabled");
        TriggerRule rule = stored();
        rule.enabled = enabled;
        engine().update(rule);
        services().activityLog().clear();
        open();
        ASSERT_TRUE(view().click("Test"));
        loop().drain();
        const auto& entries = services().activityLog().entries();
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries.back().kind, ActivityEntry::Kind::simulated);
        EXPECT_EQ(entries.back().title, "Test \u2014 Desk");
        EXPECT_EQ(entries.size(), enabled ? 2u : 1u);
        EXPECT_EQ(sim().powerAssertions().heldTypes().empty(), !enabled);
    }
}

TEST_F(RuleWidgetsTest, DeleteRuleRemovesAtOnceAsksNothingAndKeepsTheIdOpen) {
    open();
    ASSERT_TRUE(view().click("Delete Rule"));
    EXPECT_TRUE(engine().rules().empty());
    EXPECT_TRUE(host().alerts().empty());
    EXPECT_EQ(list->expanded(), std::set<UUID>{desk.id});
    EXPECT_FALSE(view().contains("Desk"));
}

}  // namespace
}  // namespace orvel
