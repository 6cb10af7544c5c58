#include "platform/linux/LinuxPowerSources.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string_view>

#include <sys/socket.h>
#include <unistd.h>

#include "support/BusTest.h"
#include "support/PropertyValuePrinter.h"
#include "support/RealThings.h"

namespace orvel {
namespace {

using namespace power_source;
using test::BusTest;
using test::waitFor;

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
        LinuxPowerSources sources(test::kSysfs + c.machine);
        const auto snapshot = sources.snapshot();
        ASSERT_TRUE(snapshot);
        EXPECT_EQ(snapshot->sources, c.sources);
        EXPECT_EQ(snapshot->providingPowerSourceType, std::optional<std::string>(c.providing));
        EXPECT_FALSE(sources.isLowPowerModeEnabled());
    }
}

TEST(LinuxPowerSourcesTest, NothingWhenThePowerSupplyClassCannotBeRead) {
    LinuxPowerSources sources(test::kSysfs + "no-such-machine");
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
    LinuxPowerSources sources(test::kSysfs + "laptop-on-ac", system, UniqueFd());
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
    LinuxPowerSources sources(test::kSysfs + "laptop-on-battery", system);
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

    LinuxPowerSources sources(test::kSysfs + "desktop", system, UniqueFd());
    int changes = 0;
    Subscription subscription = sources.powerStateDidChange.subscribe([&] { ++changes; });
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

    const int before = changes;
    setDevice(ups, 3, 2);  // discharging, while the mains supply is still online
    EXPECT_TRUE(waitFor([&] { return changes > before; })) << "UPower's change is announced";
    EXPECT_TRUE(waitFor([&] { return matches({upsSource(kBatteryPower, false)}, kACPower); }));

    add("RemoveDevice", "o", "/org/freedesktop/UPower/devices/mains");
    EXPECT_TRUE(waitFor([&] { return matches({upsSource(kBatteryPower, false)}, kUPSPower); }))
        << "the UPS powers the machine once no mains supply is online";

    setDevice(ups, 3, 1);  // wall power back: charging
    EXPECT_TRUE(waitFor([&] { return matches({upsSource(kACPower, true)}, kACPower); }));

    add("RemoveDevice", "o", ups);
    EXPECT_TRUE(waitFor([&] { return matches({}, kACPower); }));
}

TEST_F(LinuxPowerSourcesBusTest, KernelPowerSupplyEventsAreAnnouncedOnceAndReadAfresh) {
    // The supplies' folder swaps from mains to battery the way the kernel's files change.
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("orvel-uevents-" + std::to_string(::getpid()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    std::filesystem::create_directory_symlink(test::kSysfs + "laptop-on-ac/class", root / "class");
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, ends), 0);
    UniqueFd kernel(ends[0]);
    LinuxPowerSources sources(root.string(), nullptr, UniqueFd(ends[1]));
    EXPECT_TRUE(sources.announcesChanges());
    int changes = 0;
    std::optional<std::string> providing;
    Subscription subscription = sources.powerStateDidChange.subscribe([&] {
        ++changes;
        providing = sources.snapshot()->providingPowerSourceType;
    });
    EXPECT_EQ(sources.snapshot()->providingPowerSourceType, std::string(kACPower));

    const auto send = [&](std::string_view event) {
        ASSERT_EQ(::send(kernel.get(), event.data(), event.size(), 0),
                  static_cast<ssize_t>(event.size()));
    };
    using namespace std::string_view_literals;
    send("change@/devices/platform/usb/input7\0ACTION=change\0SUBSYSTEM=input\0"sv);
    std::filesystem::remove(root / "class");
    std::filesystem::create_directory_symlink(test::kSysfs + "laptop-on-battery/class",
                                              root / "class");
    // One unplug: the mains supply and the battery each tell of it.
    send(
        "change@/devices/LNXSYSTM:00/ACPI0003:00/power_supply/AC\0ACTION=change\0"
        "SUBSYSTEM=power_supply\0POWER_SUPPLY_ONLINE=0\0"sv);
    send(
        "change@/devices/LNXSYSTM:00/PNP0C0A:00/power_supply/BAT0\0ACTION=change\0"
        "SUBSYSTEM=power_supply\0POWER_SUPPLY_STATUS=Discharging\0"sv);
    // All three were waiting before the loop ran: anything they announce has been sent once
    // the first announcement is seen.
    ASSERT_TRUE(waitFor([&] { return changes > 0; }));
    EXPECT_EQ(changes, 1) << "a burst is one change; other subsystems none";
    EXPECT_EQ(providing, std::string(kBatteryPower)) << "read afresh, not the earlier reading";
    std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace orvel
