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

}  // namespace
}  // namespace orvel
