#include "core/OrvelController.h"

#include <gtest/gtest.h>

#include "core/ActivityLog.h"
#include "devices/DeviceState.h"
#include "drives/DriveKeepAlive.h"
#include "platform/Workspace.h"
#include "support/Catalogues.h"
#include "support/SessionJournal.h"
#include "support/SessionTest.h"
#include "triggers/AppTriggerSource.h"
#include "triggers/PowerTriggerCenter.h"

namespace orvel {
namespace {

using Kind = SimPowerAssertions::EventKind;

class OrvelControllerTest : public test::SessionTest {};

const std::string kLowPowerModeText = "Power Saver is on \u2014 Orvel is blocked while it's on.";

// Creation and engine choice --------------------------------------------------------------------

TEST_F(OrvelControllerTest, StartsIdleWithTheDefaultPresetAndTheAssertionEngine) {
    prefs().defaultPreset = DurationPreset::h2;
    restartProcess();  // a new process reads the stored default
    OrvelController& c = controller();
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(c.preset(), DurationPreset::h2);
    EXPECT_EQ(c.engineName(), "logind inhibitor locks");
    EXPECT_TRUE(c.isOnAC());
    EXPECT_EQ(c.options(), SleepOptions{});
    EXPECT_EQ(c.formatRemaining(), "");
}

TEST_F(OrvelControllerTest, CaffeinateIsChosenOnlyWhenItsProgramIsExecutable) {
    prefs().engine = EngineKind::caffeinate;
    EXPECT_EQ(controller().engineName(), "caffeinate");
    sim().processes().setExecutable("/usr/bin/caffeinate", false);
    prefs().engine = EngineKind::caffeinate;  // chosen again, now without its program
    EXPECT_EQ(controller().engineName(), "logind inhibitor locks");
    EXPECT_EQ(controller().lastError(), std::nullopt) << "a missing program is no error";
    // But it is said, once, in the log, and published for the Settings window.
    EXPECT_EQ(controller().missingCaffeinate(), "/usr/bin/caffeinate");
    prefs().engine = EngineKind::caffeinate;
    ASSERT_TRUE(controller().start());
    controller().stop(true);
    EXPECT_EQ(sim().log().messages("engine"),
              std::vector<std::string>{"The caffeinate engine is chosen, but Orvel's caffeinate is "
                                       "not at /usr/bin/caffeinate: sessions run on logind "
                                       "inhibitor locks instead"});
    prefs().engine = EngineKind::assertions;
    EXPECT_EQ(controller().missingCaffeinate(), std::nullopt);
    sim().processes().setExecutable("/usr/bin/caffeinate", true);
    prefs().engine = EngineKind::caffeinate;
    EXPECT_EQ(controller().missingCaffeinate(), std::nullopt);
    EXPECT_EQ(sim().log().messages("engine").size(), 1u);
}

// Starting and stopping ------------------------------------------------------------------------

TEST_F(OrvelControllerTest, StartWithNoSwitchPreventsIdleSleepAndStopReleasesIt) {
    OrvelController& c = controller();
    ASSERT_TRUE(c.start());
    EXPECT_TRUE(c.isActive());
    EXPECT_EQ(held(), (std::vector<std::string>{"PreventUserIdleSystemSleep"}));
    EXPECT_EQ(c.statusText(), "Idle sleep prevented");
    EXPECT_EQ(c.formatRemaining(), "\u221E");
    EXPECT_TRUE(services().driveKeepAlive().sessionActive());
    auto saved = prefs().loadSession();
    ASSERT_TRUE(saved);
    EXPECT_TRUE(saved->wasActive);

    c.stop(true);
    EXPECT_FALSE(c.isActive());
    EXPECT_TRUE(held().empty());
    EXPECT_FALSE(services().driveKeepAlive().sessionActive());
    EXPECT_FALSE(prefs().loadSession()->wasActive);
}

TEST_F(OrvelControllerTest, NeighboursAreToldInOrderAfterStartAndStop) {
    OrvelController& c = controller();
    loop().drain();
    test::SessionJournal journal(services());
    c.start();
    EXPECT_EQ(journal.take(), (std::vector<std::string>{"drives on", "devices", "power notice"}));
    loop().drain();
    EXPECT_EQ(journal.take(), (std::vector<std::string>{"status"}))
        << "the status item redraws once on the next loop turn";
    c.stop(true);
    EXPECT_EQ(journal.take(),
              (std::vector<std::string>{"devices", "drives off", "triggers unowned manual",
                                        "power notice"}));
    loop().drain();
    EXPECT_EQ(journal.take(), (std::vector<std::string>{"status"}));
}

TEST_F(OrvelControllerTest, StopTellsTheTriggerEngineTheOwnerAndWhetherTheEndWasManual) {
    OrvelController& c = controller();
    loop().drain();
    test::SessionJournal journal(services());
    c.startFromTrigger("Office WiFi", UUID::random(), 0);
    EXPECT_EQ(c.startedByRuleName(), "Office WiFi");
    journal.take();
    c.stop(true);
    EXPECT_EQ(journal.take()[2], "triggers owned manual");

    c.startFromTrigger("Office WiFi", UUID::random(), 60);
    journal.take();
    loop().advance(60);
    const auto lines = journal.take();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "triggers owned natural"), lines.end());
}

TEST_F(OrvelControllerTest, SystemSleepIsPreventedOnlyOnAC) {
    OrvelController& c = controller();
    SleepOptions o;
    o.preventDisplaySleep = true;
    o.preventSystemSleep = true;
    c.options = o;
    c.start();
    EXPECT_EQ(held(),
              (std::vector<std::string>{"PreventUserIdleDisplaySleep", "PreventSystemSleep"}));
    EXPECT_EQ(c.statusText(), "display sleep, system sleep prevented");

    sim().powerSources().setOnAC(false);
    loop().advance(5);  // the power tick notices and re-applies
    EXPECT_FALSE(c.isOnAC());
    EXPECT_FALSE(c.effectiveOptions().preventSystemSleep);
    EXPECT_TRUE(c.options().preventSystemSleep) << "the user's choice stays";
    EXPECT_EQ(held(), (std::vector<std::string>{"PreventUserIdleDisplaySleep"}));
    EXPECT_EQ(c.statusText(), "display sleep prevented");
}

TEST_F(OrvelControllerTest, ChangingOptionsDuringASessionSavesAndReapplies) {
    OrvelController& c = controller();
    c.start();
    SleepOptions o;
    o.preventDiskSleep = true;
    c.options = o;
    EXPECT_EQ(held(), (std::vector<std::string>{"PreventDiskIdle"}));
    EXPECT_TRUE(prefs().loadSession()->options.preventDiskSleep);
}

// Presets and deadlines ------------------------------------------------------------------------

TEST_F(OrvelControllerTest, APresetChosenWhileIdleCountsFromTheStart) {
    OrvelController& c = controller();
    c.selectPreset(DurationPreset::h1);
    EXPECT_FALSE(c.deadline());
    loop().advance(600);
    c.start();
    ASSERT_TRUE(c.deadline());
    EXPECT_DOUBLE_EQ(c.deadline()->timeIntervalSince(now()), 3600);
    EXPECT_EQ(c.secondsRemaining(), 3600);
    EXPECT_EQ(c.effectiveOptions().timeout, 3600);
    EXPECT_EQ(c.formatRemaining(), "1:00:00");
}

TEST_F(OrvelControllerTest, APresetChosenDuringASessionCountsFromTheChoice) {
    OrvelController& c = controller();
    c.start();
    loop().advance(600);
    c.selectPreset(DurationPreset::h1);
    EXPECT_DOUBLE_EQ(c.deadline()->timeIntervalSince(now()), 3600);
    EXPECT_TRUE(c.hasDeadlineTimer());
    loop().advance(1);
    EXPECT_EQ(c.formatRemaining(), "59:59");
    EXPECT_EQ(prefs().loadSession()->preset, DurationPreset::h1);
}

TEST_F(OrvelControllerTest, CustomPresetUsesCustomSecondsOrRunsWithoutEnd) {
    OrvelController& c = controller();
    prefs().customSeconds = 90;
    EXPECT_DOUBLE_EQ(c.deadlineForPreset(DurationPreset::custom)->timeIntervalSince(now()), 90);
    prefs().customSeconds = 0;
    EXPECT_FALSE(c.deadlineForPreset(DurationPreset::custom));
    EXPECT_FALSE(c.deadlineForPreset(DurationPreset::indefinite));
    EXPECT_FALSE(c.deadlineForPreset(DurationPreset::untilAppQuits));
    EXPECT_DOUBLE_EQ(c.deadlineForPreset(DurationPreset::h5)->timeIntervalSince(now()), 18000);
}

TEST_F(OrvelControllerTest, ATriggerStartWithoutSecondsRunsWithoutEndWhateverThePreset) {
    OrvelController& c = controller();
    c.selectPreset(DurationPreset::m15);
    c.startFromTrigger("Rule", UUID::random(), 0);
    EXPECT_FALSE(c.deadline());
    EXPECT_FALSE(c.hasTicker());
    EXPECT_FALSE(prefs().loadSession()->wasActive) << "a rule's session is saved as not active";
}

TEST_F(OrvelControllerTest, FormatsTheRemainingTime) {
    OrvelController& c = controller();
    c.start();
    struct Case {
        std::int64_t seconds;
        const char* text;
    };
    for (const auto& [seconds, text] :
         {Case{0, "\u221E"}, Case{5, "00:05"}, Case{3599, "59:59"}, Case{3600, "1:00:00"},
          Case{5399, "1:29:59"}, Case{360000, "100:00:00"}}) {
        c.stop(true);
        c.startForSeconds(seconds > 0 ? std::optional<std::int64_t>(seconds) : std::nullopt);
        EXPECT_EQ(c.formatRemaining(), text) << seconds;
    }
}

TEST_F(OrvelControllerTest, IdleStatusTextNamesThePresetOrTheBlock) {
    OrvelController& c = controller();
    EXPECT_EQ(c.statusText(), "Your computer will sleep on its normal schedule.");
    c.selectPreset(DurationPreset::h2);
    EXPECT_EQ(c.statusText(),
              "Your computer will sleep on its normal schedule. \u00B7 2 hours when started");
    c.setPowerBlockReason(std::string(PowerTriggerCenter::kLowPowerModeReason));
    EXPECT_EQ(c.statusText(), kLowPowerModeText);
}

// Engine fallback -------------------------------------------------------------------------------

TEST_F(OrvelControllerTest, AFailingCaffeinateFallsBackToAssertions) {
    prefs().engine = EngineKind::caffeinate;
    OrvelController& c = controller();
    sim().processes().failNextLaunch("Resource temporarily unavailable");
    ASSERT_TRUE(c.start());
    EXPECT_EQ(c.engineName(), "logind inhibitor locks");
    EXPECT_EQ(c.lastError(),
              "Switched to logind inhibitor locks: Could not launch caffeinate: "
              "Resource temporarily unavailable");
    EXPECT_EQ(held(), (std::vector<std::string>{"PreventUserIdleSystemSleep"}));
    EXPECT_EQ(prefs().engine(), EngineKind::caffeinate) << "the preference is not changed";
    c.stop(true);
    c.start();
    EXPECT_EQ(c.lastError(), std::nullopt) << "cleared by the next start";
}

TEST_F(OrvelControllerTest, FailingAssertionsFallBackToCaffeinate) {
    OrvelController& c = controller();
    sim().powerAssertions().refuseAll(kIOReturnNotPermitted);
    ASSERT_TRUE(c.start());
    EXPECT_EQ(c.engineName(), "caffeinate");
    EXPECT_EQ(c.lastError(),
              "Switched to caffeinate: Could not take a logind inhibitor lock: logind denied it "
              "to this user.");
    EXPECT_EQ(sim().processes().runningChildren().size(), 1u);
}

TEST_F(OrvelControllerTest, WhenBothEnginesFailNothingRunsAndTheOldEngineStays) {
    OrvelController& c = controller();
    sim().powerAssertions().refuseAll(kIOReturnNotPermitted);
    sim().processes().setExecutable("/usr/bin/caffeinate", false);
    EXPECT_FALSE(c.start());
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(c.lastError(), "/usr/bin/caffeinate is missing or not executable.");
    EXPECT_EQ(c.engineName(), "logind inhibitor locks");
}

TEST_F(OrvelControllerTest, ARefusedStartLeavesNoPresetDeadlineForTheNextStart) {
    OrvelController& c = controller();
    c.selectPreset(DurationPreset::h1);
    sim().powerAssertions().refuseAll(kIOReturnNotPermitted);
    sim().processes().setExecutable("/usr/bin/caffeinate", false);
    EXPECT_FALSE(c.start());

    loop().advance(600);
    sim().powerAssertions().allowAll();
    ASSERT_TRUE(c.start());
    EXPECT_EQ(c.secondsRemaining(), 3600) << "the hour counts from the start that held";
}

TEST_F(OrvelControllerTest, EnginePreferenceChangeRestartsTheSessionWithoutTouchingTheSave) {
    OrvelController& c = controller();
    c.selectPreset(DurationPreset::h1);
    c.start();
    loop().advance(100);
    test::SessionJournal journal(services());
    const auto writes = sim().userDefaults().writeCount();

    prefs().engine = EngineKind::caffeinate;
    EXPECT_EQ(sim().userDefaults().writeCount() - writes, 2u)
        << "the engine key and the restart's save; the stop in between saves nothing";
    EXPECT_TRUE(c.isActive());
    EXPECT_EQ(c.engineName(), "caffeinate");
    EXPECT_TRUE(held().empty());
    ASSERT_EQ(sim().processes().runningChildren().size(), 1u);
    EXPECT_EQ(sim().processes().lastChild()->request().arguments,
              (std::vector<std::string>{"-t", "3600"}))
        << "a fresh deadline from the preset";
    const auto lines = journal.take();
    EXPECT_EQ(lines[2], "triggers unowned manual");

    c.stop(true);
    prefs().engine = EngineKind::assertions;  // idle: only the engine changes
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(c.engineName(), "logind inhibitor locks");
}

// Until an application quits -------------------------------------------------------------------

TEST_F(OrvelControllerTest, WatchingAnAppPassesItsProcessToCaffeinateOnly) {
    auto app = sim().workspace().launch("org.example.Render", "Render");
    prefs().engine = EngineKind::caffeinate;
    OrvelController& c = controller();
    c.watchApp(app);
    EXPECT_EQ(c.statusText(), "Until Render quits");
    EXPECT_EQ(sim().processes().lastChild()->request().arguments,
              (std::vector<std::string>{"-w", std::to_string(app.processIdentifier)}));
    EXPECT_EQ(services().appSource().oneOffBundleID, "org.example.Render");

    prefs().engine = EngineKind::assertions;
    EXPECT_EQ(c.effectiveOptions().watchPID, std::nullopt);
}

TEST_F(OrvelControllerTest, QuittingTheWatchedAppEndsTheSessionWithANotification) {
    auto app = sim().workspace().launch("org.example.Render", "Render");
    OrvelController& c = controller();
    c.watchApp(app);
    ASSERT_TRUE(c.isActive());
    sim().workspace().quit(app.processIdentifier);
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(notificationTitles(), (std::vector<std::string>{"Orvel finished"}));
    EXPECT_FALSE(services().appSource().oneOffBundleID);
}

// "Until an app quits" is the duration only while an application is watched: once the watch
// ends, or is refused, the next plain start (a click on the icon, the hot key) runs the default
// duration, never a session that waits for nothing.
TEST_F(OrvelControllerTest, TheDurationIsUntilAnAppQuitsOnlyWhileAnAppIsWatched) {
    struct Case {
        const char* name;
        DurationPreset defaultPreset;
        std::function<void(OrvelController&, const RunningApplication&)> end;
        DurationPreset after;
    };
    const Case cases[] = {
        {"the app quits", DurationPreset::h2,
         [this](OrvelController&, const RunningApplication& app) {
             sim().workspace().quit(app.processIdentifier);
         },
         DurationPreset::h2},
        {"stopped by hand", DurationPreset::h2,
         [](OrvelController& c, const RunningApplication&) { c.stop(true); }, DurationPreset::h2},
        {"the default waits for an app", DurationPreset::untilAppQuits,
         [](OrvelController& c, const RunningApplication&) { c.stop(true); },
         DurationPreset::indefinite},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prefs().defaultPreset = c.defaultPreset;
        OrvelController& session = controller();
        session.selectPreset(DurationPreset::m15);
        auto app = sim().workspace().launch("org.example.Render", "Render");
        session.watchApp(app);
        ASSERT_EQ(session.preset(), DurationPreset::untilAppQuits);
        c.end(session, app);
        ASSERT_FALSE(session.isActive());
        EXPECT_FALSE(services().appSource().oneOffBundleID) << "the watch ends with it";
        EXPECT_EQ(session.preset(), c.after);
        EXPECT_EQ(prefs().loadSession()->preset, c.after);
        ASSERT_TRUE(session.start());
        EXPECT_EQ(session.deadline(), session.deadlineForPreset(c.after));
        session.stop(true);
    }

    // Refused: the duration chosen before stays.
    OrvelController& c = controller();
    c.selectPreset(DurationPreset::m30);
    prefs().lpmEnd = true;
    services().powerCenter().lpmOn = true;
    c.watchApp(sim().workspace().launch("org.example.Edit", "Edit"));
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(c.preset(), DurationPreset::m30);
    services().powerCenter().lpmOn = false;

    // Another engine goes on waiting for the same application.
    auto app = sim().workspace().launch("org.example.Mail", "Mail");
    c.watchApp(app);
    prefs().engine = EngineKind::caffeinate;
    EXPECT_TRUE(c.isActive());
    EXPECT_EQ(c.preset(), DurationPreset::untilAppQuits);
    EXPECT_EQ(c.watchedAppName(), "Mail");
    EXPECT_EQ(services().appSource().oneOffBundleID, "org.example.Mail");
    sim().workspace().quit(app.processIdentifier);
    EXPECT_FALSE(c.isActive());
}

TEST_F(OrvelControllerTest, AnAppWithoutBundleIdentifierMatchesOnlyByProcess) {
    auto watched = sim().workspace().launch(std::nullopt, "script");
    auto other = sim().workspace().launch(std::nullopt, "other script");
    OrvelController& c = controller();
    c.watchApp(watched);
    sim().workspace().quit(other.processIdentifier);
    EXPECT_TRUE(c.isActive()) << "two absent identifiers are no match";
    sim().workspace().quit(watched.processIdentifier);
    EXPECT_FALSE(c.isActive());
}

// The compatibility engine's child ---------------------------------------------------------------

TEST_F(OrvelControllerTest, ACaffeinateChildThatFailsEndsItsSessionAsAFailure) {
    struct Case {
        const char* name;
        int status;  // below 0: the child runs until the session's deadline
        std::string said;
        std::optional<std::string> error;  // none: a normal finish
    };
    const Case cases[] = {
        {"its words", 1,
         "caffeinate: Could not take a logind inhibitor lock: logind is not running on this "
         "system.\n",
         "caffeinate failed: Could not take a logind inhibitor lock: logind is not running on this "
         "system."},
        {"its last line", 3, "warning: slow\nRuntimeError:\tno \x1b[1mbus\xff\n\n  \n",
         "caffeinate failed: RuntimeError: no  [1mbus\uFFFD"},
        {"a long line, cut", 1, std::string(5000, 'x'),
         "caffeinate failed: " + std::string(240, 'x') + "\u2026"},
        {"its status", 2, "", "caffeinate failed: exited with status 2"},
        {"a signal Orvel did not send", 128 + 9, "", "caffeinate failed: ended by signal 9"},
        {"an end of its own before the deadline", 0, "", std::nullopt},
        {"the deadline", -1, "", std::nullopt},
    };
    prefs().engine = EngineKind::caffeinate;
    OrvelController& c = controller();
    c.selectPreset(DurationPreset::h1);
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        services().activityLog().clear();
        sim().log().clear();
        const std::size_t notified = notificationTitles().size();
        ASSERT_TRUE(c.start());
        const auto child = sim().processes().lastChild();
        if (test.status < 0) {
            loop().advance(3600);
        } else {
            child->exit(test.status, test.said);
            loop().drain();
        }
        EXPECT_FALSE(c.isActive());
        EXPECT_EQ(c.lastError(), test.error);
        EXPECT_EQ(child->wasTerminated(), test.status < 0) << "Orvel ends only what it must";
        EXPECT_EQ(c.failure(), test.error);
        const auto titles = notificationTitles();
        EXPECT_EQ(std::vector<std::string>(titles.begin() + notified, titles.end()),
                  std::vector<std::string>{test.error ? "Orvel could not keep this computer awake"
                                                      : "Orvel finished"});
        const auto entries = services().activityLog().entries();
        ASSERT_EQ(entries.size(), test.error ? 1u : 0u);
        std::size_t errors = 0;
        for (const auto& record : sim().log().records()) {
            errors += record.level >= LogLevel::Error;
        }
        EXPECT_EQ(errors, test.error ? 1u : 0u);
        if (test.error) {
            EXPECT_EQ(entries[0].kind, ActivityEntry::Kind::ended);
            EXPECT_EQ(entries[0].title, *test.error);
            EXPECT_EQ(sim().log().messages("caffeinate").back(), *test.error);
        }
    }
}

// Refused starts leave nothing behind ----------------------------------------------------------

TEST_F(OrvelControllerTest, LowPowerModeBlocksStartsAndARefusedStartClearsItsCallersFields) {
    prefs().lpmEnd = true;
    sim().powerSources().setLowPowerMode(true);
    services().powerCenter().lpmOn = true;
    OrvelController& c = controller();

    c.startFromTrigger("Office", UUID::random(), 600);
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(c.lastError(), kLowPowerModeText);
    EXPECT_FALSE(c.triggerOwnedRuleID());
    EXPECT_FALSE(c.startedByRuleName());
    EXPECT_FALSE(c.deadline());

    auto app = sim().workspace().launch("org.example.App", "App");
    c.watchApp(app);
    EXPECT_FALSE(c.watchedPID());
    EXPECT_FALSE(c.watchedAppName());
    EXPECT_FALSE(services().appSource().oneOffBundleID);

    services().powerCenter().lpmOn = false;
    c.selectPreset(DurationPreset::m15);
    ASSERT_TRUE(c.start());
    EXPECT_FALSE(c.triggerOwnedRuleID()) << "the manual start inherits no rule";
    EXPECT_DOUBLE_EQ(c.deadline()->timeIntervalSince(now()), 900) << "and no rule's deadline";
}

TEST_F(OrvelControllerTest, ARefusedStartDuringASessionLeavesThatSessionAsItWas) {
    OrvelController& c = controller();
    auto app = sim().workspace().launch("org.example.App", "App");
    c.watchApp(app);
    ASSERT_TRUE(c.isActive());
    prefs().lpmEnd = true;
    services().powerCenter().lpmOn = true;

    c.startFromTrigger("Office", UUID::random(), 600);
    EXPECT_EQ(c.lastError(), kLowPowerModeText);
    EXPECT_TRUE(c.isActive());
    EXPECT_FALSE(c.triggerOwnedRuleID());
    EXPECT_FALSE(c.startedByRuleName());
    EXPECT_FALSE(c.deadline());
    EXPECT_EQ(c.watchedPID(), app.processIdentifier);
    EXPECT_EQ(c.watchedAppName(), "App");
    EXPECT_EQ(services().appSource().oneOffBundleID, "org.example.App");
}

TEST_F(OrvelControllerTest, ANegativeOrZeroResumeStartsNothing) {
    OrvelController& c = controller();
    c.startForSeconds(-30);
    EXPECT_FALSE(c.isActive());
    c.startForSeconds(0);
    EXPECT_FALSE(c.isActive());
    c.startForSeconds(120);
    EXPECT_TRUE(c.isActive());
    EXPECT_EQ(c.secondsRemaining(), 120);
    c.stop(true);
    c.selectPreset(DurationPreset::h1);
    c.startForSeconds(std::nullopt);
    EXPECT_FALSE(c.deadline()) << "no preset deadline for a resume without end";
}

TEST_F(OrvelControllerTest, EndFromTriggerLeavesAManualSessionAlone) {
    OrvelController& c = controller();
    c.start();
    c.endFromTrigger();
    EXPECT_TRUE(c.isActive());
}

}  // namespace
}  // namespace orvel

namespace orvel {
namespace {

class TakenBackHoldTest : public test::SessionTest {};

TEST_F(TakenBackHoldTest, AHoldTheSystemTakesBackHandsTheSessionToTheOtherEngine) {
    OrvelController& c = controller();
    SleepOptions o;
    o.preventDisplaySleep = true;
    o.preventIdleSleep = true;
    c.options = o;
    ASSERT_TRUE(c.start());
    // The idle hold, taken after the display's: the error names the lock that was refused.
    const AssertionID idle = sim().powerAssertions().held().back().id;
    ASSERT_TRUE(sim().powerAssertions().refuseHeld(idle, kIOReturnNotPermitted));
    EXPECT_TRUE(c.isActive());
    EXPECT_EQ(c.engineName(), "caffeinate");
    EXPECT_EQ(c.lastError(),
              "Switched to caffeinate: Could not take a logind inhibitor lock: logind denied it "
              "to this user.");
    EXPECT_TRUE(sim().powerAssertions().held().empty()) << "the rest of the hold is let go";
    ASSERT_EQ(sim().processes().runningChildren().size(), 1u);
    EXPECT_EQ(sim().processes().lastChild()->request().arguments,
              (std::vector<std::string>{"-di"}));
}

TEST_F(TakenBackHoldTest, ADisplayHoldTheDesktopWillNotGiveLeavesTheRestOfTheSessionHolding) {
    struct Case {
        const char* name;
        bool atStart;  // refused as it is asked for, else taken back later
        IOReturn code;
        const char* error;
    };
    const Case cases[] = {
        {"refused at the start", true, kIOReturnUnsupported,
         "The display is not held awake; the rest of the session holds. Could not take the "
         "screen saver's inhibit: the screen saver is not running on this system."},
        {"taken back while it runs", false, kIOReturnNotPermitted,
         "The display is not held awake; the rest of the session holds. Could not take the "
         "screen saver's inhibit: the screen saver denied it to this user."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OrvelController& controller = this->controller();
        SleepOptions o;
        o.preventDisplaySleep = true;
        o.preventSystemSleep = true;
        controller.options = o;
        if (c.atStart) {
            sim().powerAssertions().refuseCreation(1, c.code);
        }
        ASSERT_TRUE(controller.start());
        if (!c.atStart) {
            ASSERT_EQ(
                sim().powerAssertions().heldTypes(),
                (std::vector<std::string>{"PreventUserIdleDisplaySleep", "PreventSystemSleep"}));
            sim().powerAssertions().refuseHeld(sim().powerAssertions().held().front().id, c.code);
        }
        EXPECT_TRUE(controller.isActive());
        EXPECT_EQ(controller.engineName(), "logind inhibitor locks");
        EXPECT_EQ(sim().powerAssertions().heldTypes(),
                  std::vector<std::string>{"PreventSystemSleep"});
        EXPECT_EQ(controller.lastError(), std::optional<std::string>(c.error));
        EXPECT_EQ(controller.failure(), std::nullopt);
        controller.stop(true);
        EXPECT_TRUE(sim().powerAssertions().held().empty());
    }
    // Alone, it is the whole session: refused, the start goes to the other engine.
    SleepOptions displayOnly;
    displayOnly.preventDisplaySleep = true;
    controller().options = displayOnly;
    sim().powerAssertions().refuseCreation(1, kIOReturnUnsupported);
    ASSERT_TRUE(controller().start());
    EXPECT_EQ(controller().engineName(), "caffeinate");
}

TEST_F(TakenBackHoldTest, WithoutAnotherEngineTheSessionEndsAndSaysWhy) {
    OrvelController& c = controller();
    sim().processes().setExecutable("/usr/bin/caffeinate", false);
    c.selectPreset(DurationPreset::h1);
    ASSERT_TRUE(c.start());
    sim().powerAssertions().refuseHeld(sim().powerAssertions().held().front().id,
                                       kIOReturnNotPermitted);
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(c.lastError(), "/usr/bin/caffeinate is missing or not executable.");
    EXPECT_EQ(notificationTitles(),
              std::vector<std::string>{"Orvel could not keep this computer awake"})
        << "told as a failure, not announced as a finished session";
    EXPECT_FALSE(prefs().loadSession()->wasActive);
}

// What went wrong reads in the reader's language where it is shown, and in English where it is
// kept (the activity log).
TEST_F(TakenBackHoldTest, ErrorsReadInTheReadersLanguageAndStayEnglishForRecords) {
    const test::ScopedLanguage german(ORVEL_LOCALE, "de");
    OrvelController& c = controller();
    sim().powerAssertions().refuseCreation(1, kIOReturnNotPermitted);
    ASSERT_TRUE(c.start());
    EXPECT_EQ(c.lastError(),
              "Zu caffeinate gewechselt: Keine logind-Inhibitor-Sperre erhalten: logind verweigert "
              "sie diesem Benutzer.");
    EXPECT_EQ(c.lastErrorInEnglish(),
              "Switched to caffeinate: Could not take a logind inhibitor lock: logind denied it "
              "to this user.");
    c.stop(false);

    sim().processes().setExecutable("/usr/bin/caffeinate", false);
    ASSERT_TRUE(c.start());
    sim().powerAssertions().refuseHeld(sim().powerAssertions().held().front().id,
                                       kIOReturnNotPermitted);
    ASSERT_FALSE(c.isActive());
    const std::string said = "/usr/bin/caffeinate fehlt oder ist nicht ausführbar.";
    EXPECT_EQ(c.lastError(), said);
    EXPECT_EQ(c.lastErrorInEnglish(), "/usr/bin/caffeinate is missing or not executable.");
    ASSERT_FALSE(sim().notifications().posted().empty());
    EXPECT_EQ(sim().notifications().posted().back().body, said);

    // Orvel's own caffeinate says why in English; the panel and the notification say it in the
    // reader's language.
    sim().processes().setExecutable("/usr/bin/caffeinate", true);
    prefs().engine = EngineKind::caffeinate;
    ASSERT_TRUE(c.start());
    ASSERT_EQ(c.engineName(), "caffeinate");
    sim().processes().lastChild()->exit(
        1,
        "caffeinate: Could not take a logind inhibitor lock: logind is not running on this "
        "system.\n");
    loop().drain();
    const std::string noLogind =
        "caffeinate ist fehlgeschlagen: Keine logind-Inhibitor-Sperre erhalten: logind läuft auf "
        "diesem System nicht.";
    EXPECT_EQ(c.lastError(), noLogind);
    EXPECT_EQ(sim().notifications().posted().back().body, noLogind);
}

TEST_F(TakenBackHoldTest, ARefusalAfterTheSessionMovedOnChangesNothing) {
    OrvelController& c = controller();
    ASSERT_TRUE(c.start());
    const AssertionID old = sim().powerAssertions().held().front().id;
    c.stop(true);
    ASSERT_TRUE(c.start());
    EXPECT_FALSE(sim().powerAssertions().refuseHeld(old, kIOReturnNotPermitted));
    // Another program's hold being refused is none of the session's business.
    const auto foreign = sim().powerAssertions().createWithName("PreventSystemSleep", 255, "other");
    sim().powerAssertions().refuseHeld(foreign.id, kIOReturnNotPermitted);
    EXPECT_TRUE(c.isActive());
    EXPECT_EQ(c.engineName(), "logind inhibitor locks");
    EXPECT_EQ(c.lastError(), std::nullopt);
}

}  // namespace
}  // namespace orvel

namespace orvel {
namespace {

class StoppedServiceTest : public test::SessionTest {};

TEST_F(StoppedServiceTest, WhileAServiceOfTheSessionIsAwayTheSessionSaysSoUntilItHoldsAgain) {
    const std::string away =
        "Sleep locks gone: logind is not running; they are taken again when it returns.";
    SimPowerAssertions& power = sim().powerAssertions();
    for (const EngineKind engine : {EngineKind::assertions, EngineKind::caffeinate}) {
        SCOPED_TRACE(std::string(rawValue(engine)));
        prefs().engine = engine;
        OrvelController& c = controller();
        ASSERT_EQ(c.engineKind(), engine);
        SleepOptions o;
        o.preventIdleSleep = true;
        o.preventSystemSleep = true;
        c.options = o;
        ASSERT_TRUE(c.start());
        const std::vector<std::string> holding = held();
        const std::string running = c.statusText();
        const std::string tip = statusItem().currentLook().toolTip;
        loop().drain();
        const auto entries = [this] { return services().activityLog().entries(); };
        const std::size_t logged = entries().size();

        // A service the session does not use changes nothing.
        power.stopService("the screen saver", {"PreventUserIdleDisplaySleep"});
        loop().drain();
        EXPECT_EQ(c.statusText(), running);
        EXPECT_EQ(entries().size(), logged);

        power.stopService("logind", {"PreventUserIdleSystemSleep", "PreventSystemSleep"});
        loop().drain();
        EXPECT_TRUE(c.isActive()) << "the session goes on, waiting for logind";
        EXPECT_EQ(c.statusText(), away);
        EXPECT_EQ(statusItem().currentLook().toolTip, away) << "no command line claims a hold";
        EXPECT_EQ(held(), std::vector<std::string>{});
        ASSERT_EQ(entries().size(), logged + 1);
        EXPECT_EQ(entries().front().detail, away);

        power.startService("the screen saver");
        power.startService("logind");
        loop().drain();
        EXPECT_TRUE(c.isActive());
        EXPECT_EQ(c.statusText(), running);
        EXPECT_EQ(statusItem().currentLook().toolTip, tip);
        EXPECT_EQ(held(), holding);
        ASSERT_EQ(entries().size(), logged + 2) << "one entry when the locks are back";
        EXPECT_NE(entries().front().detail.find("logind"), std::string::npos);
        c.stop(true);
    }
}

}  // namespace
}  // namespace orvel
