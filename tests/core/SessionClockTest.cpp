#include <gtest/gtest.h>

#include <algorithm>

#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "platform/Workspace.h"
#include "support/SessionJournal.h"
#include "support/SessionTest.h"
#include "triggers/AppTriggerSource.h"
#include "triggers/PowerTriggerCenter.h"

namespace orvel {
namespace {

using Kind = SimPowerAssertions::EventKind;

class SessionClockTest : public test::SessionTest {
  protected:
    // The process ends (without a stop) and the application starts again: a new controller,
    // which restores on its first loop turn.
    OrvelController& relaunch() {
        restartProcess();
        OrvelController& fresh = controller();
        loop().drain();
        return fresh;
    }
    std::vector<std::string> bodies() {
        std::vector<std::string> out;
        for (const auto& request : sim().notifications().posted()) {
            out.push_back(request.body);
        }
        return out;
    }
};

// The clock ------------------------------------------------------------------------------------

TEST_F(SessionClockTest, AFifteenMinuteSessionCountsDownAndEndsOnTheRightTick) {
    OrvelController& c = controller();
    c.selectPreset(DurationPreset::m15);
    c.start();
    std::vector<std::int64_t> seen{c.secondsRemaining()};
    for (int i = 0; i < 899; ++i) {
        loop().advance(1);
        seen.push_back(c.secondsRemaining());
    }
    EXPECT_EQ(seen.front(), 900);
    EXPECT_EQ(seen[1], 899);
    EXPECT_EQ(seen.back(), 1);
    EXPECT_TRUE(c.isActive());
    EXPECT_TRUE(notificationTitles().empty());

    loop().advance(1);
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(c.secondsRemaining(), 0);
    EXPECT_TRUE(held().empty());
    EXPECT_EQ(notificationTitles(), (std::vector<std::string>{"Orvel finished"}));
    EXPECT_EQ(bodies(), (std::vector<std::string>{"Your computer can sleep normally again."}));
    EXPECT_EQ(sim().notifications().lastRequestedOptions(), kNotificationAlert);
    EXPECT_FALSE(prefs().loadSession()->wasActive);
    EXPECT_EQ(statusItem().refreshCount() > 899, true) << "every tick refreshes the status item";
}

TEST_F(SessionClockTest, WithNoCountdownShownNothingTicksAndTheSessionEndsAtItsDeadline) {
    prefs().showTimer = false;
    OrvelController& c = controller();
    c.selectPreset(DurationPreset::m15);
    c.start();
    loop().drain();
    const auto redraws = statusItem().refreshCount();
    loop().advance(899.5);
    EXPECT_TRUE(c.isActive());
    EXPECT_FALSE(c.hasTicker());
    EXPECT_EQ(statusItem().refreshCount(), redraws) << "nothing shown changed";
    loop().advance(0.5);
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(notificationTitles(), (std::vector<std::string>{"Orvel finished"}));

    // The title shows the time left: it counts down by the second from the moment it shows.
    c.start();
    loop().advance(10);
    prefs().showTimer = true;
    loop().drain();
    EXPECT_TRUE(c.hasTicker());
    EXPECT_EQ(statusItem().item().look().title, " 14:50");
    loop().advance(1);
    EXPECT_EQ(statusItem().item().look().title, " 14:49");
    prefs().showTimer = false;
    loop().drain();
    EXPECT_FALSE(c.hasTicker());
}

TEST_F(SessionClockTest, AClockSetPastTheDeadlineEndsTheSessionWithinAMinute) {
    prefs().showTimer = false;
    OrvelController& c = controller();
    c.startForSeconds(3600);
    loop().drain();
    loop().setNow(now() + 7200.0);
    loop().advance(60);
    EXPECT_FALSE(c.isActive());
}

TEST_F(SessionClockTest, NoNotificationWhenSwitchedOffOrRefused) {
    OrvelController& c = controller();
    prefs().notifyOnEnd = false;
    c.startForSeconds(10);
    loop().advance(10);
    EXPECT_FALSE(c.isActive());
    prefs().notifyOnEnd = true;
    sim().notifications().setAuthorized(false);
    c.startForSeconds(10);
    loop().advance(10);
    EXPECT_FALSE(c.isActive());
    EXPECT_TRUE(sim().notifications().posted().empty());
    EXPECT_EQ(sim().notifications().authorizationRequests(), 1u);
}

TEST_F(SessionClockTest, AnUntimedSessionEndedByItsEnginePostsNothing) {
    prefs().engine = EngineKind::caffeinate;
    OrvelController& c = controller();
    c.start();
    sim().processes().lastChild()->exit(0);
    loop().drain();
    EXPECT_FALSE(c.isActive());
    EXPECT_TRUE(sim().notifications().posted().empty());
}

TEST_F(SessionClockTest, TheEngineTimeoutAndTheClockEndTheSessionOnce) {
    prefs().engine = EngineKind::caffeinate;
    OrvelController& c = controller();
    c.selectPreset(DurationPreset::m15);
    c.start();
    EXPECT_EQ(sim().processes().lastChild()->request().arguments,
              (std::vector<std::string>{"-t", "900"}));
    loop().advance(900);
    sim().processes().lastChild()->exit(0);  // the child's own timeout, a moment later
    loop().drain();
    EXPECT_EQ(notificationTitles().size(), 1u);
}

TEST_F(SessionClockTest, AnExitNoticeThatArrivesAfterTheSessionEndedEndsNothingMore) {
    auto app = sim().workspace().launch("org.example.Render", "Render");
    prefs().engine = EngineKind::caffeinate;
    OrvelController& c = controller();
    loop().drain();
    c.watchApp(app);
    test::SessionJournal journal(services());
    // The child watching the application exits with it; its notice is still on its way when
    // the workspace reports the same quit.
    sim().processes().lastChild()->exit(0);
    sim().workspace().quit(app.processIdentifier);
    EXPECT_FALSE(c.isActive());
    loop().drain();
    EXPECT_EQ(notificationTitles(), (std::vector<std::string>{"Orvel finished"}));
    const auto lines = journal.take();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "triggers unowned natural"), 1)
        << "the trigger engine hears of one end";
}

TEST_F(SessionClockTest, AnExitNoticeOfTheEngineReplacedByAnEngineChangeLeavesTheNewSession) {
    prefs().engine = EngineKind::caffeinate;
    OrvelController& c = controller();
    c.start();
    sim().processes().lastChild()->exit(0);  // its notice is queued
    prefs().engine = EngineKind::assertions;
    ASSERT_TRUE(c.isActive());
    loop().drain();
    EXPECT_TRUE(c.isActive()) << "the assertion engine now holds the session";
    EXPECT_EQ(held(), (std::vector<std::string>{"PreventUserIdleSystemSleep"}));
}

TEST_F(SessionClockTest, AnExitNoticeOfTheFailedEngineLeavesTheFallbackSession) {
    prefs().engine = EngineKind::caffeinate;
    OrvelController& c = controller();
    c.start();
    sim().processes().lastChild()->exit(0);  // its notice is queued
    sim().processes().failNextLaunch("Resource temporarily unavailable");
    ASSERT_TRUE(c.start());
    ASSERT_EQ(c.engineName(), "logind inhibitor locks");
    loop().drain();
    EXPECT_TRUE(c.isActive());
}

// Sleep and wake -------------------------------------------------------------------------------

TEST_F(SessionClockTest, AManualTimedSessionEndsAtSleep) {
    OrvelController& c = controller();
    c.selectPreset(DurationPreset::h1);
    c.start();
    loop().advance(60);
    sim().workspace().sleepFor(7200);
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(notificationTitles(), (std::vector<std::string>{"Orvel stopped"}));
    EXPECT_EQ(
        bodies(),
        (std::vector<std::string>{"The timed session ended when your computer went to sleep."}));
}

TEST_F(SessionClockTest, ARulesTimedSessionIsFrozenOverSleepAndResumesWithItsRemainder) {
    OrvelController& c = controller();
    c.startFromTrigger("Office", UUID::random(), 1800);
    loop().advance(1200);
    EXPECT_EQ(c.secondsRemaining(), 600);

    sim().workspace().willSleep.send();
    EXPECT_EQ(c.frozenTriggerRemaining(), 600);
    EXPECT_FALSE(c.deadline());
    EXPECT_FALSE(c.hasTicker());
    EXPECT_TRUE(c.isActive());
    EXPECT_FALSE(held().empty()) << "the engine keeps running while frozen";
    loop().sleepMachine(7200);
    sim().workspace().didWake.send();

    EXPECT_TRUE(c.isActive());
    EXPECT_EQ(c.secondsRemaining(), 600);
    EXPECT_FALSE(c.frozenTriggerRemaining());
    EXPECT_EQ(c.effectiveOptions().timeout, 600);
    loop().advance(599);
    EXPECT_TRUE(c.isActive());
    loop().advance(1);
    EXPECT_FALSE(c.isActive());
}

TEST_F(SessionClockTest, UntimedSessionsAreReappliedAtWakeAndTimedOnesAreNot) {
    OrvelController& c = controller();
    c.start();
    sim().powerAssertions().clearHistory();
    sim().workspace().sleepFor(600);
    EXPECT_EQ(sim().powerAssertions().events(Kind::Released).size(), 1u);
    EXPECT_EQ(sim().powerAssertions().events(Kind::Created).size(), 1u);

    prefs().reassertOnWake = false;
    sim().powerAssertions().clearHistory();
    sim().workspace().sleepFor(600);
    EXPECT_TRUE(sim().powerAssertions().history().empty());
    c.stop(true);

    prefs().reassertOnWake = true;
    c.startFromTrigger("Rule", UUID::random(), 3600);
    sim().powerAssertions().clearHistory();
    // A timed session that is still running at wake (its sleep went unannounced) is left alone.
    sim().workspace().didWake.send();
    EXPECT_TRUE(sim().powerAssertions().history().empty());
}

TEST_F(SessionClockTest, ARulesUntimedSessionIsReappliedAtWakeEvenWithoutReassertOnWake) {
    prefs().reassertOnWake = false;
    controller().startFromTrigger("Office", UUID::random(), 0);
    sim().powerAssertions().clearHistory();
    sim().workspace().sleepFor(600);
    EXPECT_EQ(sim().powerAssertions().events(Kind::Released).size(), 1u);
    EXPECT_EQ(sim().powerAssertions().events(Kind::Created).size(), 1u);
}

TEST_F(SessionClockTest, AFailedReapplyAtWakeEndsTheSessionAndSaysWhy) {
    OrvelController& c = controller();
    c.start();
    sim().powerAssertions().refuseAll(kIOReturnNotPermitted);
    sim().processes().setExecutable("/usr/bin/caffeinate", false);
    sim().workspace().sleepFor(60);
    EXPECT_FALSE(c.isActive()) << "nothing holds the machine, so no session may show";
    EXPECT_EQ(c.lastError(), "/usr/bin/caffeinate is missing or not executable.");
    EXPECT_EQ(c.failure(), c.lastError());
    EXPECT_EQ(notificationTitles(),
              std::vector<std::string>{"Orvel could not keep this computer awake"});
}

TEST_F(SessionClockTest, AFailedReapplyFallsBackToTheOtherEngine) {
    OrvelController& c = controller();
    c.start();
    sim().powerAssertions().refuseAll(kIOReturnNotPermitted);
    sim().workspace().sleepFor(60);
    EXPECT_TRUE(c.isActive());
    EXPECT_EQ(c.engineName(), "caffeinate");
    EXPECT_EQ(sim().processes().runningChildren().size(), 1u);
    EXPECT_EQ(c.lastError(),
              "Switched to caffeinate: Could not take a logind inhibitor lock: logind denied it "
              "to this user.");
}

// Power rules ----------------------------------------------------------------------------------

TEST_F(SessionClockTest, PowerChangesAreNoticedWithinFiveSecondsAndOnlyOnChange) {
    // A machine that must be polled; one that announces its changes is below.
    sim().powerSources().setAnnouncesChanges(false);
    restartProcess();
    OrvelController& c = controller();
    prefs().deactivateOnBattery = true;
    c.start();
    loop().advance(5);
    EXPECT_TRUE(c.isActive()) << "a reading equal to isOnAC does nothing";
    sim().powerSources().setOnAC(false);
    loop().advance(4.9);
    EXPECT_TRUE(c.isActive());
    loop().advance(0.1);
    EXPECT_FALSE(c.isActive());
    EXPECT_FALSE(c.isOnAC());
    EXPECT_EQ(sim().log().messages("power"),
              std::vector<std::string>{
                  "This system does not announce power changes: looking for one every 5 seconds"})
        << "said once";
}

TEST_F(SessionClockTest, AnAnnouncedPowerChangeActsAtOnceWithNoTimerWhileIdle) {
    OrvelController& c = controller();
    prefs().deactivateOnBattery = true;
    EXPECT_FALSE(loop().nextTimerIn()) << "nothing can change until the platform says so";
    c.start();
    sim().powerSources().setBatteryPercent(60);
    EXPECT_TRUE(c.isActive()) << "a reading equal to isOnAC does nothing";
    sim().powerSources().setOnAC(false);
    EXPECT_FALSE(c.isActive());
    EXPECT_FALSE(c.isOnAC());
    sim().powerSources().setOnAC(true);
    EXPECT_TRUE(c.isOnAC());
    EXPECT_TRUE(sim().log().messages("power").empty());
}

TEST_F(SessionClockTest, UnpluggingWithDeactivateOnBatteryEndsAtOnceAndLogsIt) {
    OrvelController& c = controller();
    prefs().deactivateOnBattery = true;
    c.selectPreset(DurationPreset::h1);
    c.start();
    loop().advance(600);
    sim().powerSources().setOnAC(false);
    loop().advance(5);
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(notificationTitles(), (std::vector<std::string>{"Orvel ended"}));
    EXPECT_EQ(bodies(),
              (std::vector<std::string>{"Turned off \u2014 the computer is on battery."}));
    loop().drain();
    const auto& entries = services().activityLog().entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].title, "Turned off \u2014 on battery");
    EXPECT_EQ(entries[0].detail, "Battery/Power trigger");
    EXPECT_EQ(entries[0].kind, ActivityEntry::Kind::info);
    EXPECT_FALSE(services().powerCenter().pending) << "battRecover is off";
}

TEST_F(SessionClockTest, BatteryOffAfterADelayAndWithRecoveryKeepsTheRemainder) {
    OrvelController& c = controller();
    prefs().deactivateOnBattery = true;
    prefs().batteryOffAfterEnabled = true;
    prefs().batteryOffValue = 10;
    prefs().battRecover = true;
    c.selectPreset(DurationPreset::h1);
    c.start();
    sim().powerSources().setOnAC(false);
    EXPECT_TRUE(c.hasBatteryOffTimer());
    loop().advance(599);
    EXPECT_TRUE(c.isActive());
    loop().advance(1);
    EXPECT_FALSE(c.isActive());
    ASSERT_TRUE(services().powerCenter().pending);
    // The remainder when the timer fired, 600 s into the hour.
    EXPECT_EQ(services().powerCenter().pending->remaining, 3600 - 600);
    ASSERT_EQ(services().powerCenter().holds().size(), 1u);
    EXPECT_EQ(services().powerCenter().holds()[0].label, "Computer battery");
    EXPECT_EQ(services().powerCenter().notice()->text, "Waiting: battery above 50%");
    loop().drain();
    EXPECT_EQ(services().activityLog().entries()[0].detail,
              "Battery/Power trigger, after the configured time on battery");
}

TEST_F(SessionClockTest, ReplugCancelsTheBatteryOffTimerAndAStartDoesToo) {
    OrvelController& c = controller();
    prefs().deactivateOnBattery = true;
    prefs().batteryOffAfterEnabled = true;
    c.start();
    sim().powerSources().setOnAC(false);
    loop().advance(5);
    ASSERT_TRUE(c.hasBatteryOffTimer());
    sim().powerSources().setOnAC(true);
    loop().advance(5);
    EXPECT_FALSE(c.hasBatteryOffTimer());
    loop().advance(3600);
    EXPECT_TRUE(c.isActive());

    sim().powerSources().setOnAC(false);
    loop().advance(5);
    ASSERT_TRUE(c.hasBatteryOffTimer());
    c.start();
    EXPECT_FALSE(c.hasBatteryOffTimer());
}

TEST_F(SessionClockTest, TheBatteryOffTimerEndsNothingOnUPSOrOnceThePowerIsBack) {
    // Polled, so that the timer can fire before the tick has seen the power come back.
    sim().powerSources().setAnnouncesChanges(false);
    restartProcess();
    OrvelController& c = controller();
    prefs().deactivateOnBattery = true;
    prefs().batteryOffAfterEnabled = true;
    prefs().batteryOffValue = 1;
    c.start();
    sim().powerSources().setOnAC(false);
    loop().advance(5);
    ASSERT_TRUE(c.hasBatteryOffTimer());
    services().powerCenter().onUPS = true;
    loop().advance(60);
    EXPECT_FALSE(c.hasBatteryOffTimer()) << "it fired";
    EXPECT_TRUE(c.isActive()) << "UPS power keeps the session";

    services().powerCenter().onUPS = false;
    sim().powerSources().setOnAC(true);
    loop().advance(5);
    sim().powerSources().setOnAC(false);
    loop().advance(5);
    ASSERT_TRUE(c.hasBatteryOffTimer());
    loop().advance(58);
    // Plugged in again a moment before the timer fires, before the power tick has seen it.
    sim().powerSources().setOnAC(true);
    loop().advance(2);
    EXPECT_TRUE(c.isActive());
    EXPECT_TRUE(sim().notifications().posted().empty());
}

TEST_F(SessionClockTest, OnlyAManualEndOrAStartForgetsThePendingResume) {
    OrvelController& c = controller();
    PowerTriggerCenter& center = services().powerCenter();
    center.pending = PowerTriggerCenter::Pending{300};
    c.startForSeconds(10);
    EXPECT_FALSE(center.pending) << "a start clears it";

    center.pending = PowerTriggerCenter::Pending{300};
    loop().advance(10);
    ASSERT_FALSE(c.isActive());
    EXPECT_EQ(center.pending, PowerTriggerCenter::Pending{300}) << "the session's own end keeps it";

    c.startForSeconds(10);
    center.pending = PowerTriggerCenter::Pending{300};
    c.stop(true);
    EXPECT_FALSE(center.pending) << "a manual end clears it";
}

TEST_F(SessionClockTest, ActivateOnACStartsOnPlugAndStopsOnUnplug) {
    OrvelController& c = controller();
    prefs().activateOnAC = true;
    prefs().acAutoSeconds = 1200;
    sim().powerSources().setOnAC(false);
    loop().advance(5);
    EXPECT_FALSE(c.isActive());
    sim().powerSources().setOnAC(true);
    ASSERT_TRUE(c.isActive());
    EXPECT_EQ(c.secondsRemaining(), 1200);
    sim().powerSources().setOnAC(false);
    loop().advance(5);
    EXPECT_FALSE(c.isActive());
    EXPECT_TRUE(sim().notifications().posted().empty()) << "a manual end is silent";
}

TEST_F(SessionClockTest, CheckACAutoStartStartsOnlyWhenEverythingAllows) {
    OrvelController& c = controller();
    c.checkACAutoStart();
    EXPECT_FALSE(c.isActive());
    prefs().activateOnAC = true;
    c.setPowerBlockReason(std::string("blocked"));
    c.checkACAutoStart();
    EXPECT_FALSE(c.isActive());
    c.setPowerBlockReason(std::nullopt);
    c.checkACAutoStart();
    EXPECT_TRUE(c.isActive());
    EXPECT_FALSE(c.deadline()) << "acAutoSeconds 0: no end";
}

TEST_F(SessionClockTest, ADesktopWithoutBatteryCountsAsOnAC) {
    sim().powerSources().removeBatteries();
    EXPECT_TRUE(isOnACPower(sim().powerSources()));
    EXPECT_TRUE(controller().isOnAC());
}

// Restoration ----------------------------------------------------------------------------------

TEST_F(SessionClockTest, AManualSessionComesBackAfterAnAbruptEndWithAFreshDeadline) {
    OrvelController& c = controller();
    SleepOptions o;
    o.preventDisplaySleep = true;
    c.options = o;
    c.selectPreset(DurationPreset::h2);
    c.start();
    loop().advance(1800);
    restartProcess();  // the process ends without a stop

    OrvelController& again = controller();
    EXPECT_FALSE(again.isActive()) << "restoration waits for the next loop turn";
    loop().drain();
    EXPECT_TRUE(again.isActive());
    EXPECT_EQ(again.options(), o);
    EXPECT_EQ(again.preset(), DurationPreset::h2);
    EXPECT_EQ(again.secondsRemaining(), 7200);
    EXPECT_EQ(held(), (std::vector<std::string>{"PreventUserIdleDisplaySleep"}));
}

TEST_F(SessionClockTest, AStoppedSessionRestoresOnlyTheChoices) {
    OrvelController& c = controller();
    c.selectPreset(DurationPreset::m30);
    c.start();
    c.stop(true);
    OrvelController& again = relaunch();
    EXPECT_FALSE(again.isActive());
    EXPECT_EQ(again.preset(), DurationPreset::m30);
}

TEST_F(SessionClockTest, ARulesSessionNeverComesBack) {
    controller().startFromTrigger("Office", UUID::random(), 0);
    EXPECT_FALSE(relaunch().isActive());
}

TEST_F(SessionClockTest, RestorationCanBeSwitchedOff) {
    controller().start();
    prefs().restoreSession = false;
    EXPECT_FALSE(relaunch().isActive());
    prefs().restoreSession = true;
    EXPECT_TRUE(relaunch().isActive()) << "the saved session was kept";
}

TEST_F(SessionClockTest, AnUntilAppQuitsSessionComesBackOnlyWhileItsAppRuns) {
    auto app = sim().workspace().launch("org.example.Render", "Render");
    controller().watchApp(app);
    relaunch();
    EXPECT_TRUE(controller().isActive());
    EXPECT_EQ(controller().watchedAppName(), "Render");
    EXPECT_EQ(controller().watchedPID(), app.processIdentifier);
    EXPECT_EQ(services().appSource().oneOffBundleID, "org.example.Render");

    restartProcess();
    sim().workspace().quit(app.processIdentifier);
    EXPECT_FALSE(relaunch().isActive());
    EXPECT_FALSE(sim().userDefaults().persistentValue("session")) << "the saved session is removed";
    EXPECT_EQ(controller().preset(), DurationPreset::indefinite) << "and nothing is waited for";

    // Nor does a process that starts with a default duration that waits for an app.
    prefs().defaultPreset = DurationPreset::untilAppQuits;
    EXPECT_EQ(relaunch().preset(), DurationPreset::indefinite);
}

TEST_F(SessionClockTest, AnUntilAppQuitsSessionWithoutBundleIdentifierIsForgottenAtRelaunch) {
    auto app = sim().workspace().launch(std::nullopt, "script");
    controller().watchApp(app);
    ASSERT_TRUE(prefs().loadSession()->wasActive);
    EXPECT_FALSE(relaunch().isActive());
    EXPECT_FALSE(sim().userDefaults().persistentValue("session"));
}

}  // namespace
}  // namespace orvel
