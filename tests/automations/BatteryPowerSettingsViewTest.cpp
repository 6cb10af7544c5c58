#include "automations/BatteryPowerSettingsView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "automations/RuleTabTest.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "foundation/DateFormatting.h"
#include "triggers/PowerTriggerCenter.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

namespace orvel {
namespace {

using ui::Inspector;

constexpr const char* kNoBattery = "Disabled \u2014 no internal battery detected";
constexpr const char* kNoUPS = "Disabled \u2014 no UPS attached";
constexpr const char* kSymmetric = "Symmetric \u2014 on while on UPS";

class BatteryPowerSettingsViewTest : public test::RuleTabTest<BatteryPowerSettingsView> {
  protected:
    void SetUp() override {
        RuleTabTest::SetUp();
        show();
    }
    void TearDown() override {
        RuleTabTest::TearDown();
        setCurrentLocaleIdentifier(std::nullopt);
    }
    std::shared_ptr<BatteryPowerSettingsView> makePage() override {
        return std::make_shared<BatteryPowerSettingsView>(prefs(), center(), engine(),
                                                          sim().powerSources());
    }
    PowerTriggerCenter& center() { return services().powerCenter(); }
    bool enabled(std::string_view text) {
        Inspector shown = view();
        auto found = shown.control(text);
        if (!found) {
            found = shown.find(text);
        }
        if (!found) {
            ADD_FAILURE() << "not shown: " << text;
            return false;
        }
        return shown.isEnabled(*found);
    }
    // One click on the arrow of the stepper labelled `label`, as the control does it: within its
    // range, and nothing written when the value would not change.
    void step(std::string_view label, int direction) {
        Inspector shown = view();
        std::optional<Inspector::Found> stepper;
        std::vector<const ui::Node*> path;
        std::function<void(const ui::Node&)> walk = [&](const ui::Node& node) {
            if (!stepper && node.kind == ui::NodeKind::stepper &&
                Inspector::textsOf(node) == label) {
                stepper = Inspector::Found{&node, path};
            }
            path.push_back(&node);
            for (const auto& child : node.children) {
                walk(child.node());
            }
            path.pop_back();
        };
        walk(pageHost->tree().node());
        ASSERT_TRUE(stepper) << "no stepper " << label;
        ASSERT_TRUE(shown.isEnabled(*stepper)) << label;
        const ui::Node& node = *stepper->node;
        const double now = node.numberBinding.get();
        const double next = std::clamp(now + direction * node.step, node.minimum, node.maximum);
        if (next != now) {
            node.numberBinding.set(next);
        }
    }
};

TEST_F(BatteryPowerSettingsViewTest, ALaptopShowsItsSectionsInOrderWithTheOptionalRowsHidden) {
    const auto texts = view().texts();
    const std::vector<std::string> headers{"AC power", "On battery", "UPS"};
    auto at = texts.begin();
    for (const auto& header : headers) {
        at = std::find(at, texts.end(), header);
        EXPECT_NE(at, texts.end()) << header << " missing or out of order";
    }
    for (const char* hidden :
         {"Session duration", "Only after this long on battery:", "Amount", kNoBattery}) {
        EXPECT_FALSE(view().contains(hidden)) << hidden;
    }
    EXPECT_TRUE(view().contains(kNoUPS));
    EXPECT_TRUE(view().contains("20%"));
    EXPECT_TRUE(view().contains("50%"));
    EXPECT_FALSE(enabled("20%")) << "the floor stepper waits for its switch";
    EXPECT_FALSE(enabled("50%"));
    EXPECT_TRUE(texts.back().starts_with("Safety triggers end ANY session"));
}

TEST_F(BatteryPowerSettingsViewTest, FloorAndRecoveryStayApartWithOneBounce) {
    struct Case {
        const char* name;
        std::int64_t floor, recovery;
        bool floorStepper;
        int direction;
        std::int64_t wantFloor, wantRecovery;
        int floorWrites, recoveryWrites;
        // What reaches the store, in order: the moved level first, then the one it pushed.
        std::vector<std::string> stored;
    };
    const Case cases[] = {
        {"floor 49 up", 49, 50, true, +1, 50, 51, 1, 1, {"lowBattPct=50", "battRecoverPct=51"}},
        {"floor 94 up", 94, 95, true, +1, 95, 96, 1, 1, {"lowBattPct=95", "battRecoverPct=96"}},
        {"floor 95 goes no higher", 95, 96, true, +1, 95, 96, 0, 0, {}},
        {"floor up below the recovery", 20, 50, true, +1, 21, 50, 1, 0, {"lowBattPct=21"}},
        {"recovery 20 down",
         19,
         20,
         false,
         -1,
         18,
         19,
         1,
         1,
         {"battRecoverPct=19", "lowBattPct=18"}},
        {"recovery 6 goes no lower", 5, 6, false, -1, 5, 6, 0, 0, {}},
        {"imported 30/25, recovery down",
         30,
         25,
         false,
         -1,
         23,
         24,
         1,
         1,
         {"battRecoverPct=24", "lowBattPct=23"}},
        {"imported 30/25, floor up",
         30,
         25,
         true,
         +1,
         31,
         32,
         1,
         1,
         {"lowBattPct=31", "battRecoverPct=32"}},
        {"recovery up above the floor", 40, 60, false, +1, 40, 61, 0, 1, {"battRecoverPct=61"}},
    };
    prefs().lowBattEnd = true;
    prefs().battRecover = true;
    for (const auto& c : cases) {
        // Stored while the tab is away, as an import would.
        pageHost->setShown(false);
        prefs().lowBattPct = c.floor;
        prefs().battRecoverPct = c.recovery;
        pageHost->setShown(true);
        EXPECT_EQ(prefs().lowBattPct(), c.floor) << c.name << ": a stored pair is not corrected";
        EXPECT_EQ(prefs().battRecoverPct(), c.recovery) << c.name;
        int floorWrites = 0, recoveryWrites = 0;
        Subscription f = prefs().lowBattPct.subscribe([&](const std::int64_t&) { ++floorWrites; });
        Subscription r =
            prefs().battRecoverPct.subscribe([&](const std::int64_t&) { ++recoveryWrites; });
        std::vector<std::string> stored;
        Subscription s = sim().userDefaults().changed.subscribe([&](const std::string& key) {
            if (key == "lowBattPct" || key == "battRecoverPct") {
                stored.push_back(key + "=" +
                                 std::to_string(sim().userDefaults().integerForKey(key)));
            }
        });
        step(BatteryPowerSettingsView::percentLabel(c.floorStepper ? c.floor : c.recovery),
             c.direction);
        EXPECT_EQ(stored, c.stored) << c.name;
        EXPECT_EQ(prefs().lowBattPct(), c.wantFloor) << c.name;
        EXPECT_EQ(prefs().battRecoverPct(), c.wantRecovery) << c.name;
        EXPECT_EQ(floorWrites, c.floorWrites) << c.name;
        EXPECT_EQ(recoveryWrites, c.recoveryWrites) << c.name;
    }
}

TEST_F(BatteryPowerSettingsViewTest, AWriteMadeInsideANotificationReachesEveryoneAndTheStore) {
    prefs().lowBattPct = 20;
    view();
    // Subscribed after the view's handlers: it hears the bounce's write last, and must end on it.
    std::vector<std::int64_t> heard;
    Subscription late = prefs().battRecoverPct.subscribe(
        [&](const std::int64_t& value) { heard.push_back(value); });
    // From elsewhere (an import) while shown: recovery 5 pushes the floor to 5, which pushes the
    // recovery back to 6, and there it stops.
    prefs().battRecoverPct = 5;
    EXPECT_EQ(prefs().lowBattPct(), 5);
    EXPECT_EQ(prefs().battRecoverPct(), 6);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back(), 6);
    EXPECT_EQ(heard.size(), 2u) << "one bounce";
    EXPECT_EQ(sim().userDefaults().persistentValue("battRecoverPct"),
              DefaultsValue(std::int64_t{6}));
    EXPECT_EQ(sim().userDefaults().persistentValue("lowBattPct"), DefaultsValue(std::int64_t{5}));
}

TEST_F(BatteryPowerSettingsViewTest, HandlersRunOnlyWhileShownAndNothingHappensOnAppearing) {
    pageHost->setShown(false);
    prefs().lowBattPct = 60;
    EXPECT_EQ(prefs().battRecoverPct(), 50) << "not on screen";
    center().simulate(PowerTriggerCenter::SimulationKind::lowPowerModeOn);
    prefs().lpmEnd = true;
    EXPECT_TRUE(center().simulationActive()) << "not on screen";

    pageHost->setShown(true);
    view();
    EXPECT_EQ(prefs().battRecoverPct(), 50) << "appearing corrects nothing";
    EXPECT_TRUE(center().simulationActive());
    prefs().lowBattPct = 60;
    EXPECT_EQ(prefs().battRecoverPct(), 61);

    pageHost.reset();
    page.reset();
    prefs().lowBattPct = 70;
    EXPECT_EQ(prefs().battRecoverPct(), 61) << "gone with the view";
}

TEST_F(BatteryPowerSettingsViewTest, TheLowPowerModeSwitchTakesEffectOrClearsASimulation) {
    center().simulate(PowerTriggerCenter::SimulationKind::lowPowerModeOn);
    ASSERT_TRUE(center().lpmOn());
    ASSERT_TRUE(view().setToggle("End session when Power Saver turns on", true));
    EXPECT_FALSE(center().simulationActive());
    EXPECT_FALSE(center().lpmOn()) << "the real state, read again";

    ASSERT_TRUE(view().setToggle("End session when Power Saver turns on", false));
    sim().powerSources().setLowPowerMode(true);
    controller().startForSeconds(std::nullopt);
    ASSERT_TRUE(controller().isActive());
    ASSERT_TRUE(view().setToggle("End session when Power Saver turns on", true));
    EXPECT_FALSE(controller().isActive()) << "on while Power Saver is on ends the session";
    EXPECT_TRUE(center().blockReason());
    ASSERT_TRUE(view().setToggle("End session when Power Saver turns on", false));
    EXPECT_FALSE(center().blockReason());
    controller().startForSeconds(std::nullopt);
    EXPECT_TRUE(controller().isActive()) << "the block is lifted";
}

TEST_F(BatteryPowerSettingsViewTest, TheDelayCaptionStatesTheDelayThatApplies) {
    struct Case {
        std::int64_t value;
        bool hours;
        const char* caption;
    };
    const Case cases[] = {
        {1, false, "Turns off 1 minute after unplugging"},
        {0, false, "Turns off 1 minute after unplugging"},
        {-4, true, "Turns off 1 hour after unplugging"},
        {1, true, "Turns off 1 hour after unplugging"},
        {2, true, "Turns off 2 hours after unplugging"},
        {45, false, "Turns off 45 minutes after unplugging"},
        {1000000000000, false, "Turns off 1000000000000 minutes after unplugging"},
        {1000000000000, true, "Turns off 1000000000000 hours after unplugging"},
    };
    prefs().deactivateOnBattery = true;
    prefs().batteryOffAfterEnabled = true;
    for (const auto& c : cases) {
        prefs().batteryOffValue = c.value;
        prefs().batteryOffUnitHours = c.hours;
        EXPECT_TRUE(view().contains(c.caption)) << c.caption;
        const std::int64_t n = std::max<std::int64_t>(c.value, 1);
        EXPECT_EQ(prefs().batteryOffSeconds(), n * (c.hours ? 3600 : 60)) << c.caption;
    }
}

TEST_F(BatteryPowerSettingsViewTest, TheAmountFieldStoresWholeNumbersUpTo999) {
    struct Case {
        const char* typed;
        std::int64_t stored;
        const char* caption;
    };
    const Case cases[] = {
        {"45", 45, "Turns off 45 minutes after unplugging"},
        {"5000", 999, "Turns off 999 minutes after unplugging"},
        {"1000000000000", 999, "Turns off 999 minutes after unplugging"},
        {"abc", 999, "Turns off 999 minutes after unplugging"},
        {"12.5", 999, "Turns off 999 minutes after unplugging"},
        {"0", 0, "Turns off 1 minute after unplugging"},
        {"-3", -3, "Turns off 1 minute after unplugging"},
        {"999", 999, "Turns off 999 minutes after unplugging"},
    };
    prefs().deactivateOnBattery = true;
    prefs().batteryOffAfterEnabled = true;
    for (const auto& c : cases) {
        ASSERT_TRUE(view().type("Amount", c.typed)) << c.typed;
        EXPECT_EQ(prefs().batteryOffValue(), c.stored) << c.typed;
        EXPECT_TRUE(view().contains(c.caption)) << c.typed;
    }
    prefs().batteryOffValue = 998;
    step("Amount", +1);
    step("Amount", +1);
    EXPECT_EQ(prefs().batteryOffValue(), 999) << "the stepper stops at 999";
}

TEST_F(BatteryPowerSettingsViewTest, OnlyWhatIsAttachedCanBeEdited) {
    const char* onBatteryControls[] = {
        "Disable Orvel while on battery", "End session when battery drops below",
        "Re-enable when battery recovers above", "End session when Power Saver turns on"};
    EXPECT_FALSE(enabled("React when a UPS becomes the power source")) << "no UPS";
    EXPECT_FALSE(enabled("Mode:"));
    for (const char* control : onBatteryControls) {
        EXPECT_TRUE(enabled(control)) << control;
    }

    sim().powerSources().removeBatteries();
    sim().powerSources().setUPS(true, false);
    center().readPowerState();
    EXPECT_TRUE(view().contains(kNoBattery));
    EXPECT_FALSE(enabled(kNoBattery)) << "the header is part of the section";
    EXPECT_FALSE(enabled("On battery"));
    for (const char* control : onBatteryControls) {
        EXPECT_FALSE(enabled(control)) << control;
    }
    EXPECT_TRUE(enabled("Turn on Orvel automatically while charging"));
    EXPECT_FALSE(view().contains(kNoUPS));
    EXPECT_TRUE(enabled("React when a UPS becomes the power source"));
    EXPECT_FALSE(enabled("Mode:")) << "waits for the UPS switch";
    ASSERT_TRUE(view().setToggle("React when a UPS becomes the power source", true));
    EXPECT_TRUE(enabled("Mode:"));
    ASSERT_TRUE(view().pick("Mode:", "true"));
    EXPECT_TRUE(prefs().upsInverted());
}

TEST_F(BatteryPowerSettingsViewTest, DisabledAndHiddenControlsKeepTheirValues) {
    prefs().deactivateOnBattery = true;
    prefs().batteryOffAfterEnabled = true;
    prefs().batteryOffValue = 3;
    prefs().batteryOffUnitHours = true;
    EXPECT_TRUE(view().contains("Turns off 3 hours after unplugging"));
    ASSERT_TRUE(view().setToggle("Disable Orvel while on battery", false));
    EXPECT_FALSE(view().contains("Only after this long on battery:"));
    EXPECT_FALSE(view().contains("Amount"));
    EXPECT_TRUE(prefs().batteryOffAfterEnabled());
    EXPECT_EQ(prefs().batteryOffValue(), 3);
    EXPECT_TRUE(prefs().batteryOffUnitHours());

    prefs().upsReact = true;
    prefs().upsInverted = true;
    sim().powerSources().removeBatteries();
    center().readPowerState();
    view();
    EXPECT_TRUE(prefs().upsReact()) << "a disabled section keeps its values";
    EXPECT_TRUE(prefs().upsInverted());
    EXPECT_EQ(view().selection("Mode:"), "true");
}

TEST_F(BatteryPowerSettingsViewTest, AnUnlistedACDurationIsKeptUntilOneIsPicked) {
    prefs().acAutoSeconds = 900;
    ASSERT_TRUE(view().setToggle("Turn on Orvel automatically while charging", true));
    EXPECT_TRUE(view().contains("Applies to sessions this switch starts."));
    EXPECT_EQ(view().selection("Session duration"), "900");
    EXPECT_EQ(prefs().acAutoSeconds(), 900);
    ASSERT_TRUE(view().pick("Session duration", "7200"));
    EXPECT_EQ(prefs().acAutoSeconds(), 7200);
    EXPECT_EQ(view().selection("Session duration"), "7200");
}

TEST_F(BatteryPowerSettingsViewTest, PercentagesFollowTheLocaleAndTheLevelShowsOnlyWhenRead) {
    EXPECT_FALSE(view().contains("now 80%")) << "no reading yet";
    sim().powerSources().setBatteryPercent(42);
    center().readPowerState();
    EXPECT_TRUE(view().contains("now 42%"));
    setCurrentLocaleIdentifier("en_US");
    EXPECT_TRUE(view().contains("20%"));
    setCurrentLocaleIdentifier("de_DE");
    const std::string german = percentText(0.2);
    ASSERT_NE(german, "20%") << "German sets the sign apart";
    EXPECT_FALSE(view().contains("20%"));
    EXPECT_TRUE(view().contains(german));
    EXPECT_TRUE(view().contains("now " + percentText(0.42)));
}

}  // namespace
}  // namespace orvel
