#include "automations/ScheduleSettingsView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "automations/RuleTabTest.h"
#include "automations/RuleWrite.h"
#include "core/ActivityLog.h"
#include "devices/PermissionPrimer.h"
#include "foundation/Calendar.h"
#include "foundation/DateFormatting.h"
#include "platform/HelperService.h"
#include "platform/Permissions.h"
#include "reports/PermissionAudit.h"
#include "triggers/TriggerEngine.h"
#include "triggers/WakeHelperClient.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

namespace orvel {
namespace {

namespace status = helper_service_status;
using ui::Inspector;
using State = WakeHelperClient::State;

class ScheduleSettingsViewTest : public test::RuleTabTest<ScheduleSettingsView> {
  protected:
    void SetUp() override {
        RuleTabTest::SetUp();
        setenv("TZ", "America/New_York", 1);
        tzset();
        setCurrentLocaleIdentifier("en_US");
        engine().start();
        loop().drain();
        show();
        counting = engine().rules.subscribe([this](const auto&) { ++updates; });
    }
    void TearDown() override {
        RuleTabTest::TearDown();
        setCurrentLocaleIdentifier(std::nullopt);
        setenv("TZ", "UTC", 1);
        tzset();
    }
    std::shared_ptr<ScheduleSettingsView> makePage() override {
        return std::make_shared<ScheduleSettingsView>(engine(), helper(), prefs(), sim().network());
    }
    WakeHelperClient& helper() { return services().wakeHelper(); }
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
        return textsBetween("Schedule rules", "Windows hold like any condition");
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

// A window that is open while no rule-started session runs starts nothing until it opens again,
// however it came to be open: added while open, opened during a manual session that then ended,
// or open at the next launch. The row and the report say so rather than "HOLDING", and the next
// opening starts the session.
TEST_F(ScheduleSettingsViewTest, AnOpenWindowThatStartedNothingSaysItStartsAtItsNextOpening) {
    // June 2026, when the 10th, 17th and 24th are Wednesdays; noon UTC is the same day in New York.
    const auto wednesday = [](int day, int hour, int minute, int second = 0) {
        const Date noon = addingDays(Date::fromUnix(1781092800.0), day - 10);
        return *dateBySettingTime(noon, hour, minute) + second;
    };
    struct Case {
        const char* how;
        int day;
        std::function<void(const TriggerRule&, int day)> open;
    };
    const Case cases[] = {
        {"added while open", 10,
         [&](const TriggerRule& rule, int day) {
             loop().setNow(wednesday(day, 21, 30));
             engine().add(rule);
         }},
        {"opened during a manual session that then ended", 17,
         [&](const TriggerRule& rule, int day) {
             loop().setNow(wednesday(day, 20, 59, 50));
             engine().add(rule);
             ASSERT_TRUE(controller().start());
             loop().advance(20);
             controller().stop(true);
         }},
        {"open at the next launch", 24,
         [&](const TriggerRule& rule, int day) {
             loop().setNow(wednesday(day, 20, 0));
             engine().add(rule);
             pageHost.reset();
             page.reset();
             restartProcess();
             loop().setNow(wednesday(day, 21, 30));
             engine().start();
             show();
         }},
    };
    const auto report = [this] { return services().permissionAudit().reportSections(); };
    const auto has = [](const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    };
    const std::string waiting = "  window open, starts a session at its next opening: Nights\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        const TriggerRule rule = window("Nights");
        c.open(rule, c.day);
        loop().advance(60);
        EXPECT_FALSE(controller().isActive());
        EXPECT_TRUE(view().contains("STARTS AT NEXT OPENING"));
        EXPECT_FALSE(view().contains("HOLDING"));
        EXPECT_TRUE(has(report(), "\n  holding now: none\n"));
        EXPECT_TRUE(has(report(), "\n" + waiting));

        loop().advance(wednesday(c.day + 1, 7, 0, 30).timeIntervalSince(loop().now()));
        EXPECT_FALSE(controller().isActive());
        EXPECT_FALSE(view().contains("STARTS AT NEXT OPENING")) << "the window closed";
        loop().advance(wednesday(c.day + 1, 21, 0, 30).timeIntervalSince(loop().now()));
        EXPECT_TRUE(controller().isActive()) << "its next opening starts the session";
        EXPECT_TRUE(view().contains("HOLDING"));
        EXPECT_FALSE(view().contains("STARTS AT NEXT OPENING"));
        EXPECT_TRUE(has(report(), "\n  holding now: Nights\n"));
        EXPECT_FALSE(has(report(), waiting));

        controller().stop(false);
        engine().deleteAll();
    }
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

// The editor of one rule, opened in the sub-tab.
class ScheduleRuleEditorTest : public ScheduleSettingsViewTest {
  protected:
    // Stores the rule and opens its editor; nothing counted yet.
    const TriggerRule& open(TriggerRule rule) {
        engine().add(rule);
        page->expanded = {rule.id};
        view();
        updates = 0;
        return *storedRule(rule.id);
    }
    const TriggerRule& stored() { return engine().rules().front(); }
    std::optional<Date> pickerDate(const std::string& label) {
        Inspector v = view();
        auto found = v.control(label);
        if (!found || found->node->kind != ui::NodeKind::datePicker) {
            return std::nullopt;
        }
        return found->node->dateBinding.get();
    }
    bool pickDate(const std::string& label, Date date) {
        Inspector v = view();
        auto found = v.control(label);
        if (!found || found->node->kind != ui::NodeKind::datePicker) {
            return false;
        }
        found->node->dateBinding.set(date);
        return true;
    }
    static Date today(int hour, int minute) {
        return *dateBySettingTime(RunLoop::main().now(), hour, minute);
    }
    void moveTo(const char* localTime) {
        std::tm parts{};
        ASSERT_NE(strptime(localTime, "%Y-%m-%d %H:%M:%S", &parts), nullptr);
        parts.tm_isdst = -1;
        const Date at = Date::fromUnix(static_cast<double>(std::mktime(&parts)));
        loop().sleepMachine(at.timeIntervalSince(loop().now()));
    }
    static TriggerRule oneShot(const std::string& name) {
        TriggerRule rule = window(name);
        rule.schedKind = "oneshot";
        rule.schedDays.reset();
        rule.schedStartMin.reset();
        rule.schedEndMin.reset();
        rule.schedDate = RunLoop::main().now() + 7200;
        rule.onClear = TriggerAction::nothing;
        return rule;
    }
};

TEST_F(ScheduleRuleEditorTest, TheKindChoosesTheLayoutAndAnUnknownKindSelectsNothing) {
    struct Case {
        std::optional<std::string> kind;
        const char* layoutRow;
        const char* selection;
    };
    const Case cases[] = {
        {std::nullopt, "Days", "window"},
        {"window", "Days", "window"},
        {"oneshot", "Fire at", "oneshot"},
        {"weekly", "Days", "weekly"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind.value_or("absent"));
        engine().deleteAll();
        TriggerRule rule = c.kind == "oneshot" ? oneShot("Rule") : window("Rule");
        rule.schedKind = c.kind;
        open(rule);
        EXPECT_TRUE(view().contains(c.layoutRow));
        EXPECT_FALSE(view().contains(std::string(c.layoutRow) == "Days" ? "Fire at" : "Days"));
        EXPECT_EQ(view().selection("Kind"), c.selection);
        EXPECT_EQ(updates, 0) << "showing writes nothing";
    }
}

TEST_F(ScheduleRuleEditorTest, SwitchingTheKindWritesOnlyTheKind) {
    ASSERT_TRUE(view().chooseMenuItem("Add Rule\u2026", "One-time"));
    TriggerRule before = stored();
    ASSERT_TRUE(view().pick("Kind", "window"));
    before.schedKind = "window";
    EXPECT_EQ(stored(), before);
    Inspector v = view();
    EXPECT_TRUE(v.contains("Every day"));
    EXPECT_TRUE(v.contains("Not set")) << "no start is stored";
    EXPECT_EQ(v.toggleValue("Has end time"), false);
    EXPECT_FALSE(v.control("To"));
    EXPECT_TRUE(v.contains("At the start time"));
    EXPECT_FALSE(v.contains("next day"));

    engine().deleteAll();
    const TriggerRule nights = open(window("Nights"));
    before = nights;
    ASSERT_TRUE(view().pick("Kind", "oneshot"));
    before.schedKind = "oneshot";
    EXPECT_EQ(stored(), before) << "days and times stay stored";
    EXPECT_FALSE(stored().schedDate);
    EXPECT_TRUE(view().contains("Not set"));
    EXPECT_FALSE(pickerDate("Fire at"));
}

TEST_F(ScheduleRuleEditorTest, NextDayShowsOnlyWhenBothTimesAreStoredAndTheEndIsNotLater) {
    struct Case {
        std::optional<std::int64_t> start, end;
        bool nextDay;
    };
    const Case cases[] = {
        {22 * 60, 6 * 60, true},       {9 * 60, 9 * 60, true}, {9 * 60, 9 * 60 + 1, false},
        {std::nullopt, 6 * 60, false}, {0, 1439, false},       {1439, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.start.value_or(-1)) + "-" + std::to_string(*c.end));
        engine().deleteAll();
        TriggerRule rule = window("Rule");
        rule.schedStartMin = c.start;
        rule.schedEndMin = c.end;
        open(rule);
        EXPECT_EQ(view().contains("next day"), c.nextDay);
    }
}

TEST_F(ScheduleRuleEditorTest, EndTimeOffMakesAStartOnlyRuleAndOnAgainIsSevenOClock) {
    TriggerRule rule = window("Work");
    rule.schedStartMin = 9 * 60;
    rule.schedEndMin = 17 * 60;
    open(rule);
    EXPECT_TRUE(view().contains("At window end"));
    EXPECT_FALSE(view().contains("Session duration"));
    ASSERT_TRUE(view().setToggle("Has end time", false));
    EXPECT_FALSE(stored().schedEndMin);
    Inspector v = view();
    EXPECT_TRUE(v.contains("At the start time"));
    EXPECT_TRUE(v.contains("Session duration"));
    EXPECT_TRUE(
        v.contains("No end time: this fires at the start time; nothing holds or ends later."));
    EXPECT_FALSE(v.control("To"));
    ASSERT_TRUE(view().setToggle("Has end time", true));
    EXPECT_EQ(stored().schedEndMin, 420);
    EXPECT_EQ(updates, 2);
    ASSERT_TRUE(pickerDate("To"));
    EXPECT_EQ(localTime(*pickerDate("To")).hour, 7);
}

TEST_F(ScheduleRuleEditorTest, PickedTimesStoreMinutesAfterMidnight) {
    moveTo("2026-06-10 12:00:00");
    open(window("Nights"));
    ASSERT_TRUE(pickerDate("From"));
    EXPECT_EQ(*pickerDate("From"), today(21, 0));
    // The date part is thrown away.
    ASSERT_TRUE(pickDate("From", *dateBySettingTime(addingDays(loop().now(), 3), 22, 15)));
    EXPECT_EQ(stored().schedStartMin, 22 * 60 + 15);
    ASSERT_TRUE(pickDate("To", today(0, 0)));
    EXPECT_EQ(stored().schedEndMin, 0);
    ASSERT_TRUE(pickDate("To", today(23, 59)));
    EXPECT_EQ(stored().schedEndMin, 1439);
    EXPECT_EQ(updates, 3);
}

TEST_F(ScheduleRuleEditorTest, ATimeTheSpringForwardDaySkipsShowsTheNextExistingTime) {
    moveTo("2026-03-08 00:30:00");
    TriggerRule rule = window("Early");
    rule.schedStartMin = 2 * 60 + 30;
    rule.schedEndMin = 2 * 60 + 30;
    open(rule);
    for (const char* label : {"From", "To"}) {
        SCOPED_TRACE(label);
        ASSERT_TRUE(pickerDate(label));
        const LocalTime shown = localTime(*pickerDate(label));
        EXPECT_EQ(shown.day, 8);
        EXPECT_EQ(shown.hour, 3);
        EXPECT_EQ(shown.minute, 0);
    }
    EXPECT_EQ(updates, 0);
    EXPECT_EQ(stored().schedStartMin, 150) << "what is shown is not written back";
    ASSERT_TRUE(pickDate("From", *dateBySettingTime(addingDays(loop().now(), 1), 2, 30)));
    EXPECT_EQ(stored().schedStartMin, 150);
}

TEST_F(ScheduleRuleEditorTest, FireAtInThePastKeepsTheFiredNoteAndTheFutureClearsIt) {
    TriggerRule rule = oneShot("Backup");
    rule.enabled = false;
    rule.schedDate = loop().now() - 3600;
    rule.firedAt = loop().now() - 3600;
    open(rule);
    const std::string note = "Fired " + TriggerRule::oneShotDateText(rule.firedAt) +
                             " \u2014 set a future date and switch the rule back on to reuse it.";
    EXPECT_TRUE(view().contains(note)) << testing::PrintToString(view().texts());
    ASSERT_TRUE(pickDate("Fire at", loop().now() - 60));
    EXPECT_EQ(stored().firedAt, rule.firedAt);
    EXPECT_TRUE(view().contains(note));
    ASSERT_TRUE(pickDate("Fire at", loop().now() + 600));
    EXPECT_FALSE(stored().firedAt);
    EXPECT_EQ(stored().schedDate, loop().now() + 600);
    EXPECT_FALSE(stored().enabled) << "the user switches it back on";
    EXPECT_FALSE(view().contains(note));
}

TEST_F(ScheduleRuleEditorTest, WakeInstallsTheHelperOnlyWhenTurnedOnWhileItIsNotActive) {
    struct Case {
        int status;
        int registrations;
    };
    const Case cases[] = {{status::kEnabled, 0},
                          {status::kRequiresApproval, 1},
                          {status::kNotRegistered, 1},
                          {status::kNotFound, 1}};
    const std::string warning =
        "\u26A0 On, but the wake helper isn't approved \u2014 scheduled wakes can't fire yet";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        engine().deleteAll();
        sim().helperService().setStatus(c.status);
        sim().helperService().setStatusAfterRegistration(status::kRequiresApproval);
        show();
        open(window("Nights"));
        const int before = sim().helperService().registrations();
        ASSERT_TRUE(view().setToggle("Wake the computer for this rule", true));
        loop().drain();
        EXPECT_EQ(stored().wakeMac, true);
        EXPECT_EQ(sim().helperService().registrations() - before, c.registrations);
        EXPECT_EQ(view().contains(warning), c.status != status::kEnabled);
        ASSERT_TRUE(view().setToggle("Wake the computer for this rule", false));
        loop().drain();
        EXPECT_EQ(stored().wakeMac, false);
        EXPECT_EQ(sim().helperService().registrations() - before, c.registrations);
        EXPECT_EQ(sim().helperService().unregistrations(), 0);
        EXPECT_FALSE(view().contains(warning));
    }
    sim().helperService().setStatus(status::kNotRegistered);
    sim().helperService().setStatusAfterRegistration(status::kEnabled);
    ASSERT_TRUE(view().setToggle("Wake the computer for this rule", true));
    loop().drain();
    EXPECT_EQ(helper().state(), State::active);
    EXPECT_FALSE(view().contains(warning)) << "gone once the helper is active";
}

TEST_F(ScheduleRuleEditorTest, EachWarningNeedsBothOfItsConditions) {
    const std::string acOnly =
        "\u26A0 AC-only: the wake can fire on battery, but the rule then skips.";
    const std::string keyboard =
        "\u26A0 Devices \u203A \u201CDisable the built-in keyboard\u201D is ON \u2014 with no "
        "external keyboard connected you won't be able to type your password. The block "
        "auto-releases when no external input is present.";
    const std::string battery =
        "\u26A0 \u201CDisable Orvel while on battery\u201D (Battery/Power) outranks all rules "
        "\u2014 on battery, a session this rule starts ends immediately.";
    struct Case {
        bool wake, ac, lock, blockKeyboard, onBattery;
        TriggerAction appear;
        bool acWarning, keyboardWarning, batteryWarning;
    };
    using A = TriggerAction;
    const Case cases[] = {
        {true, true, false, false, false, A::startSession, true, false, false},
        {true, false, false, false, false, A::startSession, false, false, false},
        {false, true, false, false, false, A::startSession, false, false, false},
        {false, false, true, true, false, A::startSession, false, true, false},
        {false, false, true, false, false, A::startSession, false, false, false},
        {false, false, false, true, false, A::startSession, false, false, false},
        {false, false, false, false, true, A::startSession, false, false, true},
        {false, false, false, false, true, A::endSession, false, false, false},
        {false, false, false, false, true, A::nothing, false, false, false},
        {true, true, true, true, true, A::startSession, true, true, true},
    };
    sim().helperService().setStatus(status::kEnabled);
    // The keyboard block is refused without these.
    sim().permissions().setListenEvent(ListenEventAccess::granted);
    sim().permissions().setAccessibility(true);
    sim().userDefaults().setBool(PermissionPrimer::kExplainedKey, true);
    prefs().hasConfirmedBlocking = true;
    prefs().autoUnblockNoExternal = false;
    show();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.wake << c.ac << c.lock << c.blockKeyboard
                                        << c.onBattery << rawValue(c.appear));
        engine().deleteAll();
        prefs().blockBuiltInKeyboard = c.blockKeyboard;
        prefs().deactivateOnBattery = c.onBattery;
        TriggerRule rule = window("Rule");
        rule.wakeMac = c.wake;
        rule.acOnly = c.ac;
        rule.lockAtFire = c.lock;
        rule.onAppear = c.appear;
        open(rule);
        Inspector v = view();
        EXPECT_EQ(v.contains(acOnly), c.acWarning);
        EXPECT_EQ(v.contains(keyboard), c.keyboardWarning);
        EXPECT_EQ(v.contains(battery), c.batteryWarning);
        if (c.acWarning) {
            EXPECT_EQ(colourOf(acOnly), kOrange);
        }
    }
    // The preferences are observed: the editor follows them without being rebuilt.
    prefs().deactivateOnBattery = false;
    EXPECT_FALSE(view().contains(battery));
}

TEST_F(ScheduleRuleEditorTest, EnforcementCaptionFollowsTheToggle) {
    open(window("Nights"));
    const std::string off = "Off: this rule's end action touches only trigger-started sessions.";
    const std::string on =
        "\u26A0 Enforcement: this rule's end/disable action will stop sessions "
        "you started by hand \u2014 normally rules never touch manual sessions.";
    EXPECT_EQ(colourOf(off), kSecondary);
    EXPECT_FALSE(view().contains(on));
    ASSERT_TRUE(view().setToggle("Also end manual sessions", true));
    EXPECT_EQ(colourOf(on), kOrange);
    EXPECT_FALSE(view().contains(off));
}

TEST_F(ScheduleRuleEditorTest, TheThreeTogglesStoreAnExplicitFalse) {
    struct Case {
        const char* title;
        std::optional<bool> TriggerRule::*field;
    };
    const Case cases[] = {{"Wake the computer for this rule", &TriggerRule::wakeMac},
                          {"Lock to the password screen at fire", &TriggerRule::lockAtFire},
                          {"Also end manual sessions", &TriggerRule::endsManual}};
    sim().helperService().setStatus(status::kEnabled);
    show();
    open(window("Nights"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_FALSE(stored().*c.field);
        EXPECT_EQ(view().toggleValue(c.title), false);
        ASSERT_TRUE(view().setToggle(c.title, true));
        EXPECT_EQ(stored().*c.field, true);
        ASSERT_TRUE(view().setToggle(c.title, false));
        EXPECT_EQ(stored().*c.field, std::optional<bool>(false));
    }
}

TEST_F(ScheduleRuleEditorTest, PillsRunMondayToSundayAndStoreDaysAscending) {
    TriggerRule rule = window("Rule");
    rule.schedDays = std::vector<std::int64_t>{};
    open(rule);
    std::vector<std::string> pills;
    for (const std::string& text : view().texts()) {
        if (text.size() == 1) {
            pills.push_back(text);
        }
    }
    EXPECT_EQ(pills, (std::vector<std::string>{"M", "T", "W", "T", "F", "S", "S"}));
    EXPECT_TRUE(view().contains("Every day")) << "no day stored reads every day";
    ASSERT_TRUE(view().click("Sun"));
    ASSERT_TRUE(view().click("Mon"));
    EXPECT_EQ(stored().schedDays, (std::vector<std::int64_t>{1, 2}));
    EXPECT_TRUE(view().contains("Mon Sun"));
    for (const char* day : {"Tue", "Wed", "Thu", "Fri"}) {
        ASSERT_TRUE(view().click(day));
    }
    EXPECT_TRUE(view().contains("Mon Tue Wed Thu Fri Sun"));
    ASSERT_TRUE(view().click("Sun"));
    EXPECT_EQ(stored().schedDays, (std::vector<std::int64_t>{2, 3, 4, 5, 6}));
    EXPECT_TRUE(view().contains("Weekdays"));
}

// Mends

TEST_F(ScheduleRuleEditorTest, AnUnstoredTimeReadsNotSetUntilSetStoresWhatANewRuleGets) {
    struct Case {
        const char* name;
        bool oneShot;
        const char* picker;
    };
    const Case cases[] = {{"window", false, "From"}, {"one-time", true, "Fire at"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engine().deleteAll();
        TriggerRule rule = c.oneShot ? oneShot("Rule") : window("Rule");
        rule.schedStartMin.reset();
        rule.schedDate.reset();
        const TriggerRule& shown = open(rule);
        EXPECT_EQ(shown, rule);
        EXPECT_TRUE(view().contains("Not set"));
        EXPECT_EQ(colourOf("Not set"), kSecondary);
        EXPECT_FALSE(pickerDate(c.picker));
        EXPECT_FALSE(view().contains("next day"));
        loop().advance(5);
        EXPECT_EQ(updates, 0) << "opening an editor writes nothing";
        ASSERT_TRUE(view().click(std::string("Set ") + c.picker)) << view().lastFailure();
        EXPECT_EQ(updates, 1);
        if (c.oneShot) {
            ASSERT_TRUE(stored().schedDate);
            EXPECT_EQ(*stored().schedDate, loop().now() + 3600);
        } else {
            EXPECT_EQ(stored().schedStartMin, 1260);
        }
        EXPECT_TRUE(pickerDate(c.picker));
        EXPECT_FALSE(view().contains("Not set"));
    }
}

TEST_F(ScheduleRuleEditorTest, TheLastSelectedDayCannotBeTurnedOff) {
    const std::string help = "At least one day stays selected; select all seven for every day";
    TriggerRule rule = window("Tuesdays");
    rule.schedDays = std::vector<std::int64_t>{3};
    open(rule);
    auto pill = view().control("Tue");
    ASSERT_TRUE(pill);
    EXPECT_EQ(pill->node->help, help);
    ASSERT_TRUE(view().click("Tue"));
    EXPECT_EQ(updates, 0) << "nothing written";
    EXPECT_EQ(stored().schedDays, (std::vector<std::int64_t>{3}));
    EXPECT_TRUE(view().contains("Tue"));
    ASSERT_TRUE(view().click("Wed"));
    EXPECT_FALSE(view().control("Tue")->node->help) << "two days: either may go";
    ASSERT_TRUE(view().click("Tue"));
    EXPECT_EQ(stored().schedDays, (std::vector<std::int64_t>{4}));
    EXPECT_EQ(view().control("Wed")->node->help, help);
}

TEST_F(ScheduleRuleEditorTest, TypingANameWritesSavesAndSendsWakeDatesOnce) {
    sim().helperService().setStatus(status::kEnabled);
    show();
    TriggerRule rule = window("Nights");
    rule.wakeMac = true;
    open(rule);
    loop().drain();
    // What one write of the rule costs.
    auto writes = sim().userDefaults().writeCount();
    auto sends = sim().helperConnection().sent().size();
    writeRule(engine(), rule.id, [](TriggerRule& r) { r.name = "Night"; });
    loop().drain();
    const auto writesPerUpdate = sim().userDefaults().writeCount() - writes;
    const auto sendsPerUpdate = sim().helperConnection().sent().size() - sends;
    ASSERT_GE(sendsPerUpdate, 1u);
    updates = 0;
    writes = sim().userDefaults().writeCount();
    sends = sim().helperConnection().sent().size();

    ASSERT_TRUE(view().type("Name", " shift at the lab"));  // 17 keys
    ASSERT_TRUE(view().type("Name", " two"));
    EXPECT_EQ(view().control("Name")->node->textBinding.get(), "Night shift at the lab two");
    EXPECT_EQ(updates, 0);
    loop().advance(1);
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(stored().name, "Night shift at the lab two");
    EXPECT_EQ(sim().userDefaults().writeCount() - writes, writesPerUpdate);
    EXPECT_EQ(sim().helperConnection().sent().size() - sends, sendsPerUpdate);
}

TEST_F(ScheduleRuleEditorTest, APendingNameIsWrittenWhenLeftAndDroppedForADeletedRule) {
    enum class Leave { enter, focus, collapse, subTab, deleted };
    struct Case {
        const char* how;
        Leave leave;
        bool kept;
    };
    const Case cases[] = {
        {"Return", Leave::enter, true},      {"focus lost", Leave::focus, true},
        {"Collapse", Leave::collapse, true}, {"sub-tab switch", Leave::subTab, true},
        {"deleted", Leave::deleted, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        engine().deleteAll();
        show();
        const TriggerRule rule = open(window("Nights"));
        ASSERT_TRUE(view().type("Name", "!"));
        EXPECT_EQ(updates, 0);
        switch (c.leave) {
            case Leave::enter:
                ASSERT_TRUE(view().submit("Name"));
                break;
            case Leave::focus:
                ASSERT_TRUE(view().leaveField("Name"));
                break;
            case Leave::collapse:
                ASSERT_TRUE(view().click("Collapse"));
                view();
                break;
            case Leave::subTab:
                pageHost.reset();
                page.reset();
                break;
            case Leave::deleted:
                ASSERT_TRUE(view().click("Delete Rule"));
                break;
        }
        loop().drain();
        if (c.kept) {
            EXPECT_EQ(updates, 1);
            ASSERT_TRUE(storedRule(rule.id));
            EXPECT_EQ(storedRule(rule.id)->name, "Nights!");
        } else {
            EXPECT_FALSE(storedRule(rule.id));
        }
        const int after = updates;
        loop().advance(1);
        EXPECT_EQ(updates, after) << "nothing more is written";
        EXPECT_EQ(engine().rules().size(), c.kept ? 1u : 0u);
    }
}

TEST_F(ScheduleRuleEditorTest, CreatedEditedTestedAndDeletedThroughTheControls) {
    ASSERT_TRUE(view().chooseMenuItem("Add Rule\u2026", "One-time"));
    ASSERT_TRUE(view().type("Name", " backup"));
    ASSERT_TRUE(view().submit("Name"));
    ASSERT_TRUE(view().pick("Kind", "window"));
    ASSERT_TRUE(view().click("Set From"));
    ASSERT_TRUE(view().click("Sat"));
    ASSERT_TRUE(view().setToggle("Has end time", true));
    const TriggerRule& rule = stored();
    EXPECT_EQ(rule.name, "One-time backup");
    EXPECT_EQ(rule.schedKind, "window");
    EXPECT_EQ(rule.schedDays, (std::vector<std::int64_t>{7}));
    EXPECT_EQ(rule.schedStartMin, 1260);
    EXPECT_EQ(rule.schedEndMin, 420);
    ASSERT_TRUE(view().click("Test"));
    loop().drain();
    EXPECT_TRUE(controller().isActive());
    EXPECT_EQ(services().activityLog().entries().back().title, "Test \u2014 One-time backup");
    ASSERT_TRUE(view().click("Delete Rule"));
    EXPECT_TRUE(engine().rules().empty());
    EXPECT_FALSE(view().contains("One-time backup"));
}

}  // namespace
}  // namespace orvel
