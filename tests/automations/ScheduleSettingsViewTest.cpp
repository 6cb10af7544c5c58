#include "automations/ScheduleSettingsView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/ActivityLog.h"
#include "foundation/DateFormatting.h"
#include "platform/HelperService.h"
#include "support/SessionTest.h"
#include "triggers/TriggerEngine.h"
#include "triggers/WakeHelperClient.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

namespace orvel {
namespace {

namespace status = helper_service_status;
using ui::Inspector;
using State = WakeHelperClient::State;

class ScheduleSettingsViewTest : public test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        setenv("TZ", "America/New_York", 1);
        tzset();
        setCurrentLocaleIdentifier("en_US");
        engine().start();
        loop().drain();
        show();
        counting = engine().rules.subscribe([this](const auto&) { ++updates; });
    }
    void TearDown() override {
        pageHost.reset();
        page.reset();
        SessionTest::TearDown();
        setCurrentLocaleIdentifier(std::nullopt);
        setenv("TZ", "UTC", 1);
        tzset();
    }
    TriggerEngine& engine() { return TriggerEngine::shared(); }
    WakeHelperClient& helper() { return WakeHelperClient::shared(); }
    // The sub-tab as the page builds it each time it is chosen: nothing open.
    void show() {
        pageHost.reset();
        page = std::make_shared<ScheduleSettingsView>(engine(), helper());
        pageHost = std::make_unique<ui::ViewHost>(page);
        pageHost->setShown(true);
    }
    Inspector view() {
        loop().drain();
        pageHost->evaluate();
        return Inspector(*pageHost);
    }
    std::optional<ui::ForegroundStyle> colourOf(const std::string& text) {
        Inspector v = view();
        auto found = v.find(text);
        if (!found) {
            return std::nullopt;
        }
        return found->node->foreground;
    }
    // The texts between the section header and the caption under the rules.
    std::vector<std::string> ruleSectionTexts() {
        const auto all = view().texts();
        auto first = std::find(all.begin(), all.end(), "Schedule rules");
        auto last = std::find_if(all.begin(), all.end(), [](const std::string& t) {
            return t.starts_with("Windows hold like any condition");
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
    static TriggerRule window(const std::string& name, bool enabled = true) {
        TriggerRule rule;
        rule.name = name;
        rule.source = TriggerSource::schedule;
        rule.enabled = enabled;
        rule.schedKind = "window";
        rule.schedDays = std::vector<std::int64_t>{2, 3, 4, 5, 6};
        rule.schedStartMin = 1260;
        rule.schedEndMin = 420;
        return rule;
    }

    std::shared_ptr<ScheduleSettingsView> page;
    std::unique_ptr<ui::ViewHost> pageHost;
    int updates = 0;
    Subscription counting;
};

const ui::ForegroundStyle kSecondary = ui::Hierarchy::secondary;
const ui::ForegroundStyle kOrange = ui::Color::orange();

TEST_F(ScheduleSettingsViewTest, HelperRowShowsEachStateWithItsColourButtonAndCall) {
    struct Case {
        int status;
        const char* title;
        ui::ForegroundStyle colour;
        const char* button;
        int registrations, unregistrations;
    };
    const Case cases[] = {
        {status::kEnabled, "Installed & approved", kSecondary, "Remove\u2026", 0, 1},
        {status::kRequiresApproval, "Awaiting approval", kOrange, "Enable", 1, 0},
        {status::kNotRegistered, "Not installed", kOrange, "Enable", 1, 0},
        {status::kNotFound, "Helper missing from this build", kOrange, "Enable", 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        sim().helperService().setStatus(c.status);
        show();
        EXPECT_EQ(colourOf(c.title), c.colour);
        const char* other = std::string(c.button) == "Enable" ? "Remove\u2026" : "Enable";
        EXPECT_FALSE(view().control(other));
        const int registered = sim().helperService().registrations();
        const int unregistered = sim().helperService().unregistrations();
        ASSERT_TRUE(view().click(c.button)) << view().lastFailure();
        loop().drain();
        EXPECT_EQ(sim().helperService().registrations() - registered, c.registrations);
        EXPECT_EQ(sim().helperService().unregistrations() - unregistered, c.unregistrations);
    }
}

TEST_F(ScheduleSettingsViewTest, AFailedInstallShowsItsTextVerbatimInOrangeUntilTheNextAttempt) {
    const std::string error = "Operation not permitted (%@ 1) \u2014 missing";
    sim().helperService().setStatus(status::kNotFound);
    sim().helperService().failNext(error, status::kNotFound);
    show();
    ASSERT_TRUE(view().click("Enable"));
    loop().drain();
    EXPECT_EQ(colourOf(error), kOrange);
    EXPECT_TRUE(view().contains("Helper missing from this build"));
    ASSERT_TRUE(view().click("Enable"));
    EXPECT_FALSE(view().contains(error));
}

TEST_F(ScheduleSettingsViewTest, EachAppearanceRefreshesTheHelperStateButARenderDoesNot) {
    EXPECT_TRUE(view().contains("Not installed"));
    engine().add(window("Nights"));
    sim().helperService().setStatus(status::kEnabled);
    page->expanded = {engine().rules().front().id};
    EXPECT_TRUE(view().contains("Delete Rule"));
    EXPECT_TRUE(view().contains("Not installed")) << "re-rendering reads no status";
    pageHost->setShown(false);
    pageHost->setShown(true);
    EXPECT_TRUE(view().contains("Installed & approved"));
    sim().helperService().setStatus(status::kRequiresApproval);
    show();
    EXPECT_TRUE(view().contains("Awaiting approval"));
}

TEST_F(ScheduleSettingsViewTest, WithoutScheduleRulesOnlyTheMenuAndCaptionShow) {
    TriggerRule other;
    other.name = "Headphones";
    other.source = TriggerSource::bluetooth;
    engine().add(other);
    EXPECT_EQ(ruleSectionTexts(), std::vector<std::string>{"Add Rule\u2026"});
    ASSERT_TRUE(view().control("Add Rule\u2026"));
    EXPECT_FALSE(view().contains("Headphones"));
}

TEST_F(ScheduleSettingsViewTest, TwoNewWindowsAreWeekdayNightsAndBothOpen) {
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(view().chooseMenuItem("Add Rule\u2026", "Repeating Window"));
    }
    ASSERT_EQ(engine().rules().size(), 2u);
    std::set<UUID> ids;
    for (const TriggerRule& rule : engine().rules()) {
        EXPECT_EQ(rule.name, "New window");
        EXPECT_EQ(rule.source, TriggerSource::schedule);
        EXPECT_TRUE(rule.enabled);
        EXPECT_EQ(rule.schedKind, "window");
        EXPECT_EQ(rule.schedDays, (std::vector<std::int64_t>{2, 3, 4, 5, 6}));
        EXPECT_EQ(rule.schedStartMin, 1260);
        EXPECT_EQ(rule.schedEndMin, 420);
        EXPECT_FALSE(rule.schedDate);
        EXPECT_EQ(rule.onAppear, TriggerAction::startSession);
        EXPECT_EQ(rule.onClear, TriggerAction::endSession);
        EXPECT_EQ(rule.durationSeconds, 0);
        EXPECT_FALSE(rule.wakeMac || rule.lockAtFire || rule.endsManual || rule.firedAt);
        ids.insert(rule.id);
    }
    EXPECT_EQ(page->expanded(), ids);
    const auto texts = view().texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Delete Rule"), 2);
}

TEST_F(ScheduleSettingsViewTest, ANewOneTimeRuleFiresAnHourLaterAndHoldsTheSession) {
    const Date added = loop().now();
    ASSERT_TRUE(view().chooseMenuItem("Add Rule\u2026", "One-time"));
    ASSERT_EQ(engine().rules().size(), 1u);
    const TriggerRule rule = engine().rules().front();
    EXPECT_EQ(rule.name, "One-time");
    EXPECT_EQ(rule.schedKind, "oneshot");
    ASSERT_TRUE(rule.schedDate);
    EXPECT_NEAR(rule.schedDate->timeIntervalSince(added), 3600, 1e-6);
    EXPECT_EQ(rule.onClear, TriggerAction::nothing);
    EXPECT_FALSE(rule.schedDays || rule.schedStartMin || rule.schedEndMin);
    EXPECT_EQ(page->expanded(), std::set<UUID>{rule.id});

    loop().advance(3599);
    EXPECT_FALSE(controller().isActive());
    loop().advance(60);
    EXPECT_TRUE(controller().isActive());
    EXPECT_FALSE(held().empty());
    loop().advance(3 * 3600);
    EXPECT_TRUE(controller().isActive()) << "its end edge does nothing";
}

TEST_F(ScheduleSettingsViewTest, DisabledRulesAreListedInTheEnginesOrder) {
    TriggerRule between;
    between.name = "Headphones";
    between.source = TriggerSource::bluetooth;
    engine().rules = {window("Zeta"), between, window("Alpha", false), window("Mid")};
    std::vector<std::string> names;
    for (const std::string& text : ruleSectionTexts()) {
        const bool name =
            text == "Zeta" || text == "Alpha" || text == "Mid" || text == "Headphones";
        // Each row shows its name twice: the title and the switch's label.
        if (name && (names.empty() || names.back() != text)) {
            names.push_back(text);
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Zeta", "Alpha", "Mid"}));
    EXPECT_EQ(view().toggleValue("Enable Alpha"), false);
}

}  // namespace
}  // namespace orvel
