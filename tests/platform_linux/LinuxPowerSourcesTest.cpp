#include "platform/linux/LinuxPowerSources.h"

#include <gtest/gtest.h>

#include "support/BusTest.h"
#include "support/PropertyValuePrinter.h"

namespace orvel {
namespace {

using namespace power_source;
using test::BusTest;
using test::waitFor;

const std::string kSysfs = std::string(ORVEL_TEST_DATA) + "/sysfs/";

PropertyDictionary battery(const char* name, const char* state, int percent, bool charging) {
    return {{kType, kInternalBattery},   {kName, name},       {kPowerSourceState, state},
            {kCurrentCapacity, percent}, {kMaxCapacity, 100}, {kIsCharging, charging}};
}

TEST(LinuxPowerSourcesTest, DescribesEachMachineFromItsSupplies) {
    struct Case {
        const char* machine;
        std::vector<PropertyDictionary> sources;
        const char* providing;
    };
    const Case cases[] = {
        {"laptop-on-ac", {battery("BAT0", kACPower, 57, true)}, kACPower},
        // energy_now / energy_full; the empty second bay is left out.
        {"laptop-on-battery", {battery("BAT0", kBatteryPower, 60, false)}, kBatteryPower},
        // charge_now / charge_full; a USB-C charger online and a battery that is not charging.
        {"laptop-usb-c-charger", {battery("BAT0", kACPower, 80, false)}, kACPower},
        // Worn batteries read over full (capacity 104, energy_now over energy_full, charge_now
        // over charge_full): a battery is never more than full.
        {"laptop-worn-on-battery",
         {battery("BAT0", kBatteryPower, 100, false), battery("BAT1", kBatteryPower, 100, false)},
         kBatteryPower},
        {"laptop-worn-on-ac", {battery("BAT0", kACPower, 100, false)}, kACPower},
        {"desktop", {}, kACPower},
        // A mouse's battery running down is not the machine running on battery.
        {"desktop-with-wireless-mouse", {}, kACPower},
        {"ups-powering",
         {{{kType, kUPS},
           {kName, "ups0"},
           {kPowerSourceState, kBatteryPower},
           {kCurrentCapacity, 64},
           {kMaxCapacity, 100},
           {kIsCharging, false}}},
         kUPSPower},
        {"ups-on-mains",
         {{{kType, kUPS},
           {kName, "ups0"},
           {kPowerSourceState, kACPower},
           {kCurrentCapacity, 100},
           {kMaxCapacity, 100},
           {kIsCharging, true}}},
         kACPower},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.machine);
        LinuxPowerSources sources(kSysfs + c.machine);
        const auto snapshot = sources.snapshot();
        ASSERT_TRUE(snapshot);
        EXPECT_EQ(snapshot->sources, c.sources);
        EXPECT_EQ(snapshot->providingPowerSourceType, std::optional<std::string>(c.providing));
        EXPECT_FALSE(sources.isLowPowerModeEnabled());
    }
}

TEST(LinuxPowerSourcesTest, NothingWhenThePowerSupplyClassCannotBeRead) {
    LinuxPowerSources sources(kSysfs + "no-such-machine");
    EXPECT_FALSE(sources.snapshot());
}

class LinuxPowerSourcesBusTest : public BusTest {
  protected:
    void setProfile(const char* profile) {
        test::Reply reply =
            test::callAndWait(*probe,
                              DBusObject{"net.hadess.PowerProfiles", "/net/hadess/PowerProfiles",
                                         "org.freedesktop.DBus.Properties"},
                              "Set", [profile](sd_bus_message* m) {
                                  return sd_bus_message_append(m, "ssv", "net.hadess.PowerProfiles",
                                                               "ActiveProfile", "s", profile);
                              });
        ASSERT_TRUE(reply);
        EXPECT_FALSE(DBusConnection::errorOf(reply.get()));
    }
};

TEST_F(LinuxPowerSourcesBusTest, LowPowerModeFollowsThePowerSaverProfile) {
    startService("power_profiles_daemon");
    LinuxPowerSources sources(kSysfs + "laptop-on-ac", system);
    int changes = 0;
    Subscription subscription = sources.powerStateDidChange.subscribe([&] { ++changes; });
    ASSERT_TRUE(waitFor([&] { return system->namesKnown(); }));
    EXPECT_FALSE(sources.isLowPowerModeEnabled());

    struct Step {
        const char* profile;
        bool lowPower;
        int changes;
    };
    const Step steps[] = {
        {"power-saver", true, 1},
        {"power-saver", true, 1},  // the same profile again changes
                                   // nothing
        {"performance", false, 2},
        {"balanced", false, 2},
        {"power-saver", true, 3},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.profile);
        setProfile(step.profile);
        // A round trip after the change, so its signal has been handled.
        test::callAndWait(
            *system,
            DBusObject{"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus"},
            "GetId");
        EXPECT_TRUE(waitFor([&] { return changes == step.changes; }));
        EXPECT_EQ(sources.isLowPowerModeEnabled(), step.lowPower);
        EXPECT_EQ(changes, step.changes);
    }

    // The daemon goes away: Power Saver is off.
    stopService("power_profiles_daemon");
    EXPECT_TRUE(waitFor([&] { return changes == 4; }));
    EXPECT_FALSE(sources.isLowPowerModeEnabled());
}

TEST_F(LinuxPowerSourcesBusTest, AProfileAlreadyInPowerSaverIsReadAtStart) {
    startService("power_profiles_daemon", R"({"ActiveProfile": "power-saver"})");
    LinuxPowerSources sources(kSysfs + "laptop-on-battery", system);
    int changes = 0;
    Subscription subscription = sources.powerStateDidChange.subscribe([&] { ++changes; });
    EXPECT_TRUE(waitFor([&] { return sources.isLowPowerModeEnabled(); }));
    EXPECT_EQ(changes, 1);
}

TEST_F(LinuxPowerSourcesBusTest, UPowerUPSDevicesAreListedAndPowerTheMachineWithoutMains) {
    startService("upower");
    const DBusObject upowerMock{"org.freedesktop.UPower", "/org/freedesktop/UPower",
                                "org.freedesktop.DBus.Mock"};
    const auto add = [&](const char* member, const char* signature, auto... args) {
        test::Reply reply = test::callAndWait(*probe, upowerMock, member, [&](sd_bus_message* m) {
            return sd_bus_message_append(m, signature, args...);
        });
        EXPECT_TRUE(reply && !DBusConnection::errorOf(reply.get())) << member;
    };
    const auto setDevice = [&](const char* path, std::uint32_t type, std::uint32_t state) {
        add("SetDeviceProperties", "oa{sv}", path, 2, "Type", "u", type, "State", "u", state);
    };
    // Mains and a laptop-style battery first: neither is a UPS.
    add("AddAC", "ss", "mains", "Wall");
    add("AddDischargingBattery", "ssdx", "bat", "Pack", 50.0, std::int64_t{3600});
    add("AddDischargingBattery", "ssdx", "ups0", "Back room UPS", 64.4, std::int64_t{1800});
    const char* ups = "/org/freedesktop/UPower/devices/ups0";
    setDevice(ups, 3, 4);  // a UPS, fully charged

    LinuxPowerSources sources(kSysfs + "desktop", system);
    const auto upsSource = [](const char* state, bool charging) {
        return PropertyDictionary{{kType, kUPS},           {kName, "Back room UPS"},
                                  {kIsCharging, charging}, {kPowerSourceState, state},
                                  {kCurrentCapacity, 64},  {kMaxCapacity, 100}};
    };
    const auto matches = [&](std::vector<PropertyDictionary> descriptions, const char* providing) {
        const auto snapshot = sources.snapshot();
        return snapshot && snapshot->sources == descriptions &&
               snapshot->providingPowerSourceType == std::optional<std::string>(providing);
    };
    EXPECT_TRUE(waitFor([&] { return matches({upsSource(kACPower, false)}, kACPower); }))
        << "read once at start";

    setDevice(ups, 3, 2);  // discharging, while the mains supply is still online
    EXPECT_TRUE(waitFor([&] { return matches({upsSource(kBatteryPower, false)}, kACPower); }));

    add("RemoveDevice", "o", "/org/freedesktop/UPower/devices/mains");
    EXPECT_TRUE(waitFor([&] { return matches({upsSource(kBatteryPower, false)}, kUPSPower); }))
        << "the UPS powers the machine once no mains supply is online";

    setDevice(ups, 3, 1);  // wall power back: charging
    EXPECT_TRUE(waitFor([&] { return matches({upsSource(kACPower, true)}, kACPower); }));

    add("RemoveDevice", "o", ups);
    EXPECT_TRUE(waitFor([&] { return matches({}, kACPower); }));
}

}  // namespace
}  // namespace orvel
