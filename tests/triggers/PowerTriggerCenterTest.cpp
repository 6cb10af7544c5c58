#include "triggers/PowerTriggerCenter.h"

#include <gtest/gtest.h>

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "support/SessionTest.h"

namespace orvel {
namespace {

using namespace power_source;

class PowerTriggerCenterTest : public test::SessionTest {};

// Character for character: an em dash, and a plain apostrophe.
const std::string kReason = "Low Power Mode is on \u2014 Orvel is blocked while it's on.";

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
        EXPECT_EQ(PowerTriggerCenter::isOnACPower(), c.onAC) << c.name;
    }
    sim().powerSources().setUnreadable(true);
    EXPECT_TRUE(PowerTriggerCenter::internalBatteryDescriptions().empty());
    EXPECT_TRUE(PowerTriggerCenter::isOnACPower());
}

TEST_F(PowerTriggerCenterTest, BlockReasonFollowsLowPowerModeAndTheSetting) {
    PowerTriggerCenter& center = PowerTriggerCenter::shared();
    center.lpmOn = true;
    EXPECT_FALSE(center.blockReason());
    Preferences::shared().lpmEnd = true;
    EXPECT_EQ(center.blockReason(), kReason);

    loop().drain();
    const auto refreshes = statusItem().refreshCount();
    center.syncBlockReason();
    EXPECT_EQ(OrvelController::shared().powerBlockReason(), kReason);
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
    PowerTriggerCenter& center = PowerTriggerCenter::shared();
    center.pending = PowerTriggerCenter::Pending{300};
    center.addHold("bt-1", "Mouse below 10%");
    center.refreshNotice();
    EXPECT_EQ(center.notice(),
              (PowerTriggerCenter::Notice{"Waiting to re-enable: Mouse below 10%", 1}));
    center.addHold("bt-2", "Keyboard below 10%");
    center.refreshNotice();
    EXPECT_EQ(center.notice()->text, "Waiting to re-enable: 2 device batteries");
    center.addHold("mac", "Mac battery");
    center.macBatteryPercent = 31;
    center.refreshNotice();
    EXPECT_EQ(center.notice()->text, "Waiting: battery above 50% \u2014 now 31% (+2 more)");
    center.addHold("mac", "Mac battery");
    EXPECT_EQ(center.holds().size(), 3u) << "a hold with the same id is replaced";

    int published = 0;
    Subscription s = center.notice.subscribe([&](const auto&) { ++published; });
    center.refreshNotice();
    EXPECT_EQ(published, 0) << "written only when it differs";
    center.pending.reset();
    center.refreshNotice();
    EXPECT_FALSE(center.notice());
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
    const std::vector<PowerTriggerCenter::Hold> mac{{"mac", "Mac battery"}};
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
        {"Mac battery hold first", Ups::powering, true, true, false, true, mac, false,
         PowerTriggerCenter::Notice{"Waiting: battery above 50%", 3}},
        {"Low Power Mode block first", Ups::powering, true, true, false, false, {}, true, blocked},
    };
    PowerTriggerCenter& center = PowerTriggerCenter::shared();
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
        EXPECT_EQ(PowerTriggerCenter::internalBatteryDescriptions(), c.kept) << c.name;
    }
}

TEST_F(PowerTriggerCenterTest, TheSystemVersionHasThreeNumbers) {
    EXPECT_EQ(osVersionString(), "12.0.0");
    sim().systemInfo().setOSVersion({14, 6, 1});
    EXPECT_EQ(osVersionString(), "14.6.1");
}

}  // namespace
}  // namespace orvel
