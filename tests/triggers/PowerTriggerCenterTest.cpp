#include "triggers/PowerTriggerCenter.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "support/Catalogues.h"
#include "support/SessionTest.h"
#include "triggers/TriggerTestSupport.h"

namespace orvel {
namespace {

using namespace power_source;

class PowerTriggerCenterTest : public test::SessionTest {};

// Character for character: an em dash, and a plain apostrophe.
const std::string kReason = "Power Saver is on \u2014 Orvel is blocked while it's on.";

TEST_F(PowerTriggerCenterTest, TheFirstBatteryThatReportsAStateDecides) {
    struct Case {
        const char* name;
        std::vector<PropertyDictionary> sources;
        bool onAC;
    };
    const Case cases[] = {
        {"no sources", {}, true},
        {"battery on AC", {{{kType, kInternalBattery}, {kPowerSourceState, kACPower}}}, true},
        {"battery on battery",
         {{{kType, kInternalBattery}, {kPowerSourceState, kBatteryPower}}},
         false},
        {"first without state, second on battery",
         {{{kType, kInternalBattery}}, {{kType, kInternalBattery}, {kPowerSourceState, "Off"}}},
         false},
        {"state of the wrong type is passed over",
         {{{kType, kInternalBattery}, {kPowerSourceState, 1}},
          {{kType, kInternalBattery}, {kPowerSourceState, kACPower}}},
         true},
        {"a UPS on battery is not the machine's battery",
         {{{kType, kUPS}, {kPowerSourceState, kBatteryPower}}},
         true},
    };
    for (const auto& c : cases) {
        sim().powerSources().setSources(PowerSourcesSnapshot{c.sources, std::nullopt});
        EXPECT_EQ(isOnACPower(sim().powerSources()), c.onAC) << c.name;
    }
    sim().powerSources().setUnreadable(true);
    EXPECT_TRUE(internalBatteryDescriptions(sim().powerSources()).empty());
    EXPECT_TRUE(isOnACPower(sim().powerSources()));
}

TEST_F(PowerTriggerCenterTest, BlockReasonFollowsLowPowerModeAndTheSetting) {
    PowerTriggerCenter& center = services().powerCenter();
    center.lpmOn = true;
    EXPECT_FALSE(center.blockReason());
    services().preferences().lpmEnd = true;
    EXPECT_EQ(center.blockReason(), kReason);

    loop().drain();
    const auto refreshes = statusItem().refreshCount();
    center.syncBlockReason();
    EXPECT_EQ(services().controller().powerBlockReason(), kReason);
    loop().drain();
    EXPECT_EQ(statusItem().refreshCount(), refreshes + 1);
    center.syncBlockReason();
    loop().drain();
    EXPECT_EQ(statusItem().refreshCount(), refreshes + 1) << "no change, no refresh";
    center.refreshNotice();
    EXPECT_EQ(center.notice()->text, kReason);
    EXPECT_EQ(center.notice()->subTab, 3);
}

TEST_F(PowerTriggerCenterTest, NoticesDescribeWhatHoldsAResumeBack) {
    PowerTriggerCenter& center = services().powerCenter();
    center.pending = PowerTriggerCenter::Pending{300};
    center.addHold("bt-1", "Mouse below 10%");
    center.refreshNotice();
    EXPECT_EQ(center.notice(),
              (PowerTriggerCenter::Notice{"Waiting to re-enable: Mouse below 10%", 1}));
    center.addHold("bt-2", "Keyboard below 10%");
    center.refreshNotice();
    EXPECT_EQ(center.notice()->text, "Waiting to re-enable: 2 device batteries");
    center.addHold("mac", "Computer battery");
    center.macBatteryPercent = 31;
    center.refreshNotice();
    EXPECT_EQ(center.notice()->text, "Waiting: battery above 50% \u2014 now 31% (+2 more)");
    center.addHold("mac", "Computer battery");
    EXPECT_EQ(center.holds().size(), 3u) << "a hold with the same id is replaced";

    int published = 0;
    Subscription s = center.notice.subscribe([&](const auto&) { ++published; });
    center.refreshNotice();
    EXPECT_EQ(published, 0) << "written only when it differs";
    center.pending.reset();
    center.refreshNotice();
    EXPECT_FALSE(center.notice());
}

// The panel's notice line reads in the reader's language, numbers in their places.
TEST_F(PowerTriggerCenterTest, NoticesReadInTheReadersLanguage) {
    const test::ScopedLanguage german(ORVEL_LOCALE, "de");
    PowerTriggerCenter& center = services().powerCenter();
    struct Case {
        std::vector<PowerTriggerCenter::Hold> holds;
        std::optional<std::int64_t> percent;
        bool lowPowerMode;
        std::string text;
    };
    const PowerTriggerCenter::Hold mac{"mac", "Computer battery", ""};
    const PowerTriggerCenter::Hold mouse{"bt-1", "Mouse battery 8% \u2014 below its 10% floor",
                                         "Akku von Mouse bei 8% \u2013 unter der Grenze von 10%"};
    const PowerTriggerCenter::Hold keys{"bt-2", "Keys", ""};
    const Case cases[] = {
        {{mac}, std::nullopt, false, "Warten: Akku über 50 %"},
        {{mac}, 31, false, "Warten: Akku über 50 % \u2014 jetzt 31 %"},
        {{mac, mouse, keys}, std::nullopt, false, "Warten: Akku über 50 % (+2 weitere)"},
        {{mac, mouse}, 31, false, "Warten: Akku über 50 % \u2014 jetzt 31 % (+1 weitere)"},
        {{mouse},
         std::nullopt,
         false,
         "Warten auf Wiedereinschalten: Akku von Mouse bei 8% \u2013 unter der Grenze von 10%"},
        {{mouse, keys}, std::nullopt, false, "Warten auf Wiedereinschalten: 2 Geräteakkus"},
        {{},
         std::nullopt,
         true,
         "Energiesparmodus ist an \u2014 Orvel ist gesperrt, solange er an ist."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        center.pending = PowerTriggerCenter::Pending{300};
        center.holds = c.holds;
        center.macBatteryPercent = c.percent;
        prefs().lpmEnd = c.lowPowerMode;
        center.lpmOn = c.lowPowerMode;
        center.refreshNotice();
        ASSERT_TRUE(center.notice());
        EXPECT_EQ(center.notice()->text, c.text);
    }
}

TEST_F(PowerTriggerCenterTest, TheUPSNoticeNeedsATrippedFloorAndSymmetricReactionOnUPSPower) {
    enum class Ups { none, onWallPower, powering };
    struct Case {
        const char* name;
        Ups ups;
        bool macTripped;
        bool upsReact;
        bool upsInverted;
        bool pending;
        std::vector<PowerTriggerCenter::Hold> holds;
        bool lowPowerModeBlock;
        std::optional<PowerTriggerCenter::Notice> notice;
    };
    const PowerTriggerCenter::Notice upsNotice{"Battery floor is holding UPS Symmetric back", 3};
    const PowerTriggerCenter::Notice blocked{kReason, 3};
    const std::vector<PowerTriggerCenter::Hold> mouse{{"bt-1", "Mouse below 10%"}};
    const std::vector<PowerTriggerCenter::Hold> mac{{"mac", "Computer battery"}};
    const Case cases[] = {
        {"symmetric on UPS power", Ups::powering, true, true, false, false, {}, false, upsNotice},
        {"floor not tripped", Ups::powering, false, true, false, false, {}, false, std::nullopt},
        {"reaction off", Ups::powering, true, false, false, false, {}, false, std::nullopt},
        {"inverted", Ups::powering, true, true, true, false, {}, false, std::nullopt},
        {"UPS on wall power", Ups::onWallPower, true, true, false, false, {}, false, std::nullopt},
        {"no UPS", Ups::none, true, true, false, false, {}, false, std::nullopt},
        {"pending without holds", Ups::powering, true, true, false, true, {}, false, upsNotice},
        {"holds without pending", Ups::powering, true, true, false, false, mouse, false, upsNotice},
        {"device hold first", Ups::powering, true, true, false, true, mouse, false,
         PowerTriggerCenter::Notice{"Waiting to re-enable: Mouse below 10%", 1}},
        {"Computer battery hold first", Ups::powering, true, true, false, true, mac, false,
         PowerTriggerCenter::Notice{"Waiting: battery above 50%", 3}},
        {"Power Saver block first", Ups::powering, true, true, false, false, {}, true, blocked},
    };
    PowerTriggerCenter& center = services().powerCenter();
    for (const Case& c : cases) {
        sim().powerSources().setUPS(c.ups != Ups::none, c.ups == Ups::powering);
        // The centre's own reading of the power sources is not built yet: the flag it keeps
        // from that reading is set here to match the machine.
        center.onUPS = c.ups == Ups::powering;
        center.macTripped = c.macTripped;
        prefs().upsReact = c.upsReact;
        prefs().upsInverted = c.upsInverted;
        center.pending =
            c.pending ? std::optional(PowerTriggerCenter::Pending{std::nullopt}) : std::nullopt;
        center.holds = c.holds;
        center.lpmOn = c.lowPowerModeBlock;
        prefs().lpmEnd = c.lowPowerModeBlock;
        center.refreshNotice();
        EXPECT_EQ(center.notice(), c.notice) << c.name;
    }
}

TEST_F(PowerTriggerCenterTest, OnlyNonEmptyInternalBatteryDescriptionsAreKeptInOrder) {
    const PropertyDictionary first{{kType, kInternalBattery}, {kName, "BAT0"}};
    const PropertyDictionary second{{kType, kInternalBattery}, {kName, "BAT1"}};
    struct Case {
        const char* name;
        std::vector<PropertyDictionary> sources;
        std::vector<PropertyDictionary> kept;
    };
    const Case cases[] = {
        {"two batteries", {first, second}, {first, second}},
        {"an empty description", {{}, second}, {second}},
        {"no type", {{{kName, "BAT0"}}, second}, {second}},
        {"a type that is no text", {{{kType, 1}}, first}, {first}},
        {"exact text only", {{{kType, "internalbattery"}}, {{kType, kUPS}}, first}, {first}},
    };
    for (const auto& c : cases) {
        sim().powerSources().setSources(PowerSourcesSnapshot{c.sources, std::nullopt});
        EXPECT_EQ(internalBatteryDescriptions(sim().powerSources()), c.kept) << c.name;
    }
}

TEST_F(PowerTriggerCenterTest, TheSystemVersionHasThreeNumbers) {
    EXPECT_EQ(osVersionString(sim().systemInfo()), "12.0.0");
    sim().systemInfo().setOSVersion({14, 6, 1});
    EXPECT_EQ(osVersionString(sim().systemInfo()), "14.6.1");
}

// A laptop on battery at `percent`, with the centre started.
class PowerCentreRunTest : public PowerTriggerCenterTest {
  protected:
    void SetUp() override {
        PowerTriggerCenterTest::SetUp();
        prefs().battRecover = true;
    }
    PowerTriggerCenter& center() { return services().powerCenter(); }
    // The level first: each change is announced, and a level the test does not mean must not
    // be seen on battery.
    void onBattery(int percent) {
        sim().powerSources().setBatteryPercent(percent);
        sim().powerSources().setOnAC(false);
    }
    void tick() { loop().advance(10); }
    // Whether the activity log holds this "kind|title|detail" line (entries land on the next turn).
    bool has(const std::string& line) {
        loop().drain();
        const auto lines = test::activity(services().activityLog());
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
};

TEST_F(PowerCentreRunTest, ReadsTheBatteryPercentRoundingHalvesUp) {
    struct Case {
        std::int64_t current, max;
        std::optional<std::int64_t> percent;
    };
    const Case cases[] = {{1, 200, 1}, {199, 200, 100}, {0, 0, std::nullopt}, {150, 100, 150}};
    for (const Case& c : cases) {
        center().macBatteryPercent = std::nullopt;
        sim().powerSources().setSources(PowerSourcesSnapshot{
            {{{kType, kInternalBattery}, {kCurrentCapacity, c.current}, {kMaxCapacity, c.max}}},
            std::nullopt});
        center().readPowerState();
        EXPECT_EQ(center().macBatteryPercent(), c.percent) << c.current << "/" << c.max;
    }
}

TEST_F(PowerCentreRunTest, TheFloorEndsTheSessionAndRecoveryResumesIt) {
    prefs().lowBattEnd = true;
    onBattery(50);
    controller().startForSeconds(3600);
    center().start();
    EXPECT_TRUE(controller().isActive());

    sim().powerSources().setBatteryPercent(20);
    tick();
    EXPECT_FALSE(controller().isActive());
    EXPECT_TRUE(
        has("ended|Battery dropped below 20%|Ended session \u2014 Battery/Power safety "
            "trigger"));
    EXPECT_EQ(center().notice()->text, "Waiting: battery above 50% \u2014 now 20%");
    sim().powerSources().setBatteryPercent(49);
    tick();
    EXPECT_FALSE(controller().isActive());
    sim().powerSources().setBatteryPercent(50);
    tick();
    EXPECT_TRUE(controller().isActive());
    EXPECT_TRUE(has("info|Computer battery recovered above 50%|"));
    EXPECT_TRUE(
        has("started|Orvel re-enabled \u2014 battery recovered|Resumed the "
            "battery-ended session \u2014 with 60 min remaining"));
    loop().drain();
    EXPECT_EQ(notificationTitles(), (std::vector<std::string>{"Orvel ended", "Orvel re-enabled"}));
    EXPECT_FALSE(center().notice());
}

TEST_F(PowerCentreRunTest, AnAnnouncedDropEndsTheSessionWithNoTimerOfItsOwn) {
    prefs().lowBattEnd = true;
    center().start();
    loop().drain();
    EXPECT_FALSE(loop().nextTimerIn()) << "idle: nothing to look at until the machine tells";
    onBattery(50);
    controller().startForSeconds(std::nullopt);
    sim().powerSources().setBatteryPercent(20);
    EXPECT_FALSE(controller().isActive());
    EXPECT_TRUE(center().macTripped);
}

TEST_F(PowerCentreRunTest, AFloorSetBelowTheLevelActsWithoutWaitingForTheNextChange) {
    onBattery(15);
    center().start();
    controller().startForSeconds(std::nullopt);
    prefs().lowBattEnd = true;
    loop().drain();
    EXPECT_FALSE(controller().isActive());
}

// A reset, an import or the Battery tab changes them between power changes.
TEST_F(PowerCentreRunTest, TheBlockAndTheNoticeFollowTheirSettingsWithoutWaitingForAChange) {
    prefs().lowBattEnd = true;
    sim().powerSources().setLowPowerMode(true);
    onBattery(15);
    sim().powerSources().setUPS(true, true);
    center().start();
    ASSERT_TRUE(center().macTripped);
    const std::string upsHeld = "Battery floor is holding UPS Symmetric back";
    struct Step {
        const char* name;
        std::function<void()> change;
        bool blocked;
        std::string notice;  // empty: none
    };
    const Step steps[] = {
        {"Power Saver's rule on", [&] { prefs().lpmEnd = true; }, true, kReason},
        {"and off again", [&] { prefs().lpmEnd = false; }, false, ""},
        {"UPS reaction on", [&] { prefs().upsReact = true; }, false, upsHeld},
        {"inverted", [&] { prefs().upsInverted = true; }, false, ""},
        {"symmetric again", [&] { prefs().upsInverted = false; }, false, upsHeld},
        {"UPS reaction off", [&] { prefs().upsReact = false; }, false, ""},
    };
    for (const auto& step : steps) {
        step.change();
        loop().drain();
        EXPECT_EQ(controller().powerBlockReason().has_value(), step.blocked) << step.name;
        EXPECT_EQ(center().notice() ? center().notice()->text : "", step.notice) << step.name;
    }
    EXPECT_TRUE(controller().start()) << "no block is left behind";
}

TEST_F(PowerCentreRunTest, FloorEdgeCases) {
    struct Case {
        const char* name;
        bool onAC;
        bool session;
        bool battRecover;
        std::int64_t recoverPct;
        bool floorOffWhileTripped;
        int low;
        bool tripped;
        int stillHeld;  // a level that does not recover yet
        int recovers;
        bool resumed;
    };
    const Case cases[] = {
        {"real percent on wall power", true, true, true, 50, false, 20, false, 0, 0, false},
        {"recovery level under the floor", false, true, true, 10, false, 20, true, 20, 21, true},
        {"floor off while tripped", false, true, true, 50, true, 15, true, 49, 50, true},
        {"no session at the crossing", false, false, true, 50, false, 20, true, 40, 60, false},
        {"no resume after recovery", false, true, false, 50, false, 20, true, 40, 60, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        prefs().lowBattEnd = true;
        prefs().battRecover = c.battRecover;
        prefs().battRecoverPct = c.recoverPct;
        onBattery(60);
        sim().powerSources().setOnAC(c.onAC);
        if (c.session) {
            controller().startForSeconds(std::nullopt);
        }
        center().start();
        sim().powerSources().setBatteryPercent(c.low);
        tick();
        EXPECT_EQ(center().macTripped, c.tripped);
        EXPECT_FALSE(controller().isActive() && c.tripped);
        EXPECT_EQ(center().holds().size(), c.tripped && c.battRecover ? 1u : 0u);
        if (!c.tripped) {
            continue;
        }
        if (c.floorOffWhileTripped) {
            prefs().lowBattEnd = false;
        }
        sim().powerSources().setBatteryPercent(c.stillHeld);
        tick();
        EXPECT_TRUE(center().macTripped);
        sim().powerSources().setBatteryPercent(c.recovers);
        tick();
        EXPECT_FALSE(center().macTripped);
        EXPECT_EQ(controller().isActive(), c.resumed);
        EXPECT_EQ(
            has("info|Computer battery recovered above " + std::to_string(c.recoverPct) + "%|"),
            c.battRecover);
    }
}

TEST_F(PowerCentreRunTest, ASimulatedLowBatteryTripsEvenOnWallPower) {
    prefs().lowBattEnd = true;
    controller().startForSeconds(std::nullopt);
    center().start();
    center().simulate(PowerTriggerCenter::SimulationKind::lowBattery);
    EXPECT_TRUE(center().macTripped);
    EXPECT_FALSE(controller().isActive());
    EXPECT_EQ(center().notice()->text, "Waiting: battery above 50% \u2014 now 15%");
    EXPECT_EQ(center().reportLines(),
              (std::vector<std::string>{"Resume pending \u2014 waiting for: Computer battery",
                                        "Power simulation active (Troubleshooting)"}));
    center().simulate(PowerTriggerCenter::SimulationKind::batteryRecovery);
    EXPECT_TRUE(controller().isActive());
    EXPECT_TRUE(
        has("started|Orvel re-enabled \u2014 battery recovered|Resumed the "
            "battery-ended session \u2014 Indefinitely"));
}

TEST_F(PowerCentreRunTest, TheResumeTellsTheMinutesLeft) {
    struct Case {
        std::optional<std::int64_t> remaining;
        const char* text;
    };
    const Case cases[] = {{59, "with 1 min remaining"},
                          {60, "with 1 min remaining"},
                          {3600, "with 60 min remaining"},
                          {std::nullopt, "Indefinitely"}};
    for (const Case& c : cases) {
        controller().stop(false);
        center().pending = PowerTriggerCenter::Pending{c.remaining};
        center().addHold("bt-x", "Mouse below 10%");
        center().releaseHold("bt-x", "Mouse recovered");
        EXPECT_TRUE(controller().isActive()) << c.text;
        EXPECT_TRUE(has(std::string("started|Orvel re-enabled \u2014 battery recovered|Resumed "
                                    "the battery-ended session \u2014 ") +
                        c.text));
    }
}

TEST_F(PowerCentreRunTest, ReleasingAnUnknownHoldDoesNothing) {
    center().pending = PowerTriggerCenter::Pending{std::nullopt};
    center().addHold("bt-1", "Mouse below 10%");
    center().addHold("bt-1", "Mouse below 20%");
    EXPECT_EQ(center().holds().front().label, "Mouse below 10%") << "the first label stays";
    center().addHold("bt-2", "Keyboard below 10%");
    center().releaseHold("bt-9", "nothing");
    center().releaseHold("bt-1", "Mouse recovered");
    EXPECT_FALSE(controller().isActive());
    loop().drain();
    EXPECT_EQ(
        test::activity(services().activityLog()),
        (std::vector<std::string>{"info|Mouse recovered|Still waiting for: Keyboard below 10%"}));
}

TEST_F(PowerCentreRunTest, LowPowerModeEndsBlocksAndThenLetsThePendingSessionAndACStartRun) {
    prefs().lpmEnd = true;
    prefs().activateOnAC = true;
    center().start();
    controller().startForSeconds(std::nullopt);
    sim().powerSources().setLowPowerMode(true);
    EXPECT_FALSE(controller().isActive());
    EXPECT_FALSE(center().pending) << "not resumable";
    EXPECT_FALSE(controller().start());
    EXPECT_EQ(controller().lastError(), kReason);

    center().pending = PowerTriggerCenter::Pending{600};
    sim().powerSources().setLowPowerMode(false);
    EXPECT_TRUE(controller().isActive());
    EXPECT_TRUE(
        has("started|Orvel re-enabled \u2014 battery recovered|Resumed the "
            "battery-ended session \u2014 with 10 min remaining"));

    controller().stop(false);
    sim().powerSources().setLowPowerMode(true);
    sim().powerSources().setLowPowerMode(false);
    EXPECT_TRUE(controller().isActive()) << "the AC auto-start runs";
}

TEST_F(PowerCentreRunTest, UPSTransitionsFollowTheMode) {
    prefs().upsReact = true;
    sim().powerSources().setUPS(true, true);
    center().start();
    EXPECT_TRUE(controller().isActive()) << "a UPS session at launch";
    EXPECT_TRUE(center().upsStartedSession);
    EXPECT_TRUE(center().upsPresent());
    EXPECT_TRUE(
        has("started|UPS became the power source|Started session \u2014 Indefinitely "
            "\u00b7 Battery/Power"));
    sim().powerSources().setUPS(true, false);
    tick();
    EXPECT_FALSE(controller().isActive());
    EXPECT_TRUE(
        has("ended|Wall power returned|Ended session \u2014 Battery/Power safety "
            "trigger"));

    prefs().upsInverted = true;
    controller().startForSeconds(std::nullopt);
    sim().powerSources().setUPS(true, true);
    tick();
    EXPECT_FALSE(controller().isActive()) << "Inverted sheds the load";
    controller().startForSeconds(std::nullopt);
    sim().powerSources().setUPS(true, false);
    tick();
    EXPECT_TRUE(controller().isActive()) << "Inverted: wall power never ends a session";
}

TEST_F(PowerCentreRunTest, SymmetricWaitsForATrippedFloorAndForTheNextTransition) {
    prefs().upsReact = true;
    prefs().lowBattEnd = true;
    onBattery(10);
    center().start();
    EXPECT_TRUE(center().macTripped);
    sim().powerSources().setUPS(true, true);
    tick();
    EXPECT_FALSE(controller().isActive());
    EXPECT_TRUE(
        has("info|UPS became the power source|Ignored \u2014 a battery floor is tripped; "
            "Symmetric resumes after recovery"));
    EXPECT_EQ(center().notice()->text, "Battery floor is holding UPS Symmetric back");
    sim().powerSources().setBatteryPercent(60);
    tick();
    EXPECT_FALSE(controller().isActive()) << "no UPS session until the UPS state changes again";
}

TEST_F(PowerCentreRunTest, ARefusedSymmetricStartMarksNothing) {
    prefs().upsReact = true;
    prefs().lpmEnd = true;
    sim().powerSources().setLowPowerMode(true);
    center().lpmOn = true;
    sim().powerSources().setUPS(true, true);
    center().start();
    EXPECT_FALSE(controller().isActive());
    EXPECT_FALSE(center().upsStartedSession);
    EXPECT_TRUE(has("info|UPS became the power source|Ignored \u2014 the session could not start"));
    loop().drain();
    EXPECT_TRUE(notificationTitles().empty());
}

TEST_F(PowerCentreRunTest, ARefusedResumeKeepsThePendingSession) {
    sim().powerAssertions().refuseAll(kIOReturnNotReady);
    sim().processes().setExecutable("/usr/bin/caffeinate", false);
    center().pending = PowerTriggerCenter::Pending{300};
    center().addHold("mac", "Computer battery");
    center().releaseHold("mac", "Computer battery recovered above 50%");
    EXPECT_FALSE(controller().isActive());
    EXPECT_EQ(center().pending, (PowerTriggerCenter::Pending{300}));
    EXPECT_TRUE(
        has("info|Orvel re-enabled \u2014 battery recovered|Ignored \u2014 the session "
            "could not start"));
    sim().powerAssertions().allowAll();
    center().resume();
    EXPECT_TRUE(controller().isActive());
}

TEST_F(PowerCentreRunTest, WallPowerEndsOnlyASessionTheUPSStarted) {
    prefs().upsReact = true;
    center().start();
    center().simulate(PowerTriggerCenter::SimulationKind::upsTakeover);
    center().simulate(PowerTriggerCenter::SimulationKind::upsTakeover);
    EXPECT_TRUE(controller().isActive());
    loop().drain();
    EXPECT_EQ(notificationTitles(), std::vector<std::string>{"Orvel started"})
        << "the second takeover repeats nothing";
    controller().stop(true);
    controller().startForSeconds(std::nullopt);
    center().simulate(PowerTriggerCenter::SimulationKind::wallPowerReturns);
    EXPECT_TRUE(controller().isActive()) << "the manual session stays";
}

TEST_F(PowerCentreRunTest, TheOnBatteryTurnOffHoldIsReleasedOnWallPower) {
    prefs().deactivateOnBattery = true;
    prefs().batteryOffAfterEnabled = false;
    center().start();
    controller().startForSeconds(std::nullopt);
    onBattery(80);
    loop().advance(5);
    EXPECT_FALSE(controller().isActive());
    EXPECT_EQ(center().holds().size(), 1u);
    sim().powerSources().setOnAC(true);
    tick();
    EXPECT_TRUE(has("info|Wall power returned|"));
    EXPECT_TRUE(center().holds().empty());
    EXPECT_TRUE(controller().isActive());
}

TEST_F(PowerCentreRunTest, ASessionInItsLastSecondIsNotResumed) {
    prefs().lowBattEnd = true;
    onBattery(60);
    controller().startForSeconds(30);
    center().start();
    loop().advance(29.5);
    sim().powerSources().setBatteryPercent(10);
    center().evaluate();
    EXPECT_FALSE(controller().isActive());
    EXPECT_FALSE(center().pending);
}

TEST_F(PowerCentreRunTest, AWallPowerChangeClearsTheSimulationOnceInsideEvaluate) {
    prefs().lowBattEnd = true;
    center().start();
    controller().startForSeconds(std::nullopt);
    center().simulate(PowerTriggerCenter::SimulationKind::lowBattery);
    EXPECT_TRUE(center().macTripped);
    onBattery(15);
    tick();
    EXPECT_FALSE(center().simulationActive());
    const auto lines = test::activity(services().activityLog());
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("ended|", 0) == 0; }),
              1);
    EXPECT_TRUE(center().macTripped);
    EXPECT_TRUE(has("info|Simulation cleared|Real power state re-read"));
}

}  // namespace
}  // namespace orvel
