#include "platform/linux/LinuxBluetooth.h"

#include <gtest/gtest.h>

#include "support/BusTest.h"
#include "support/RealThings.h"

namespace orvel {
namespace {

using test::BusTest;
using test::waitFor;

constexpr const char* kAddress = "AA:BB:CC:DD:EE:01";
constexpr const char* kDevicePath = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01";
const DBusObject kBluezMock{"org.bluez", "/", "org.bluez.Mock"};

TEST(LinuxBluetoothTest, DeviceScopeSuppliesNamingAnAddressGiveLevels) {
    LinuxBluetooth bluetooth(nullptr, test::kSysfs + "desktop-with-bluetooth-mouse");
    EXPECT_EQ(bluetooth.batteryLevels(), (std::vector<BluetoothBatteryLevel>{{kAddress, 42}}))
        << "a supply without an address in its name is left out";
    EXPECT_EQ(bluetooth.authorization(), BluetoothAuthorization::restricted);
    EXPECT_FALSE(bluetooth.registerForConnects([](const BluetoothDevice&) {}));
    EXPECT_TRUE(bluetooth.isSettled());
}

class LinuxBluetoothBusTest : public BusTest {
  protected:
    // Calls a method of the mock and expects it to succeed.
    void mock(const DBusObject& object, const char* member, const DBusConnection::Append& append) {
        test::Reply reply = test::callAndWait(*probe, object, member, append);
        ASSERT_TRUE(reply) << member;
        const auto error = DBusConnection::errorOf(reply.get());
        EXPECT_FALSE(error) << member << ": " << error.value_or("");
    }
    void bluez(const char* member, const char* device = kAddress) {
        mock(kBluezMock, member, [device](sd_bus_message* m) {
            return sd_bus_message_append(m, "ss", "hci0", device);
        });
    }
    void setBattery(std::uint8_t percent) {
        mock(DBusObject{"org.bluez", kDevicePath, "org.freedesktop.DBus.Properties"}, "Set",
             [percent](sd_bus_message* m) {
                 return sd_bus_message_append(m, "ssv", "org.bluez.Battery1", "Percentage", "y",
                                              percent);
             });
    }
    // A round trip on the backend's connection: signals sent before it have been handled.
    void settle() {
        test::callAndWait(
            *system,
            DBusObject{"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus"},
            "GetId");
    }
};

TEST_F(LinuxBluetoothBusTest, FollowsBlueZDevicesConnectionsAndBatteries) {
    startService("bluez5");
    LinuxBluetooth bluetooth(system, test::kSysfs + "desktop");
    int authorizationChanges = 0;
    Subscription s = bluetooth.authorizationChanged.subscribe([&] { ++authorizationChanges; });
    ASSERT_TRUE(waitFor([&] { return bluetooth.isSettled(); }));
    EXPECT_EQ(bluetooth.authorization(), BluetoothAuthorization::restricted) << "no adapter yet";

    mock(kBluezMock, "AddAdapter",
         [](sd_bus_message* m) { return sd_bus_message_append(m, "ss", "hci0", "desk"); });
    EXPECT_TRUE(waitFor([&] { return authorizationChanges == 1; }));
    EXPECT_EQ(bluetooth.authorization(), BluetoothAuthorization::allowedAlways);

    mock(kBluezMock, "AddDevice", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "sss", "hci0", kAddress, "Desk mouse");
    });
    ASSERT_TRUE(waitFor([&] { return bluetooth.device(kAddress).has_value(); }));
    EXPECT_TRUE(bluetooth.pairedDevices().empty()) << "known but not paired";
    mock(kBluezMock, "PairDevice", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssi", "hci0", kAddress, 0x580);
    });
    ASSERT_TRUE(waitFor([&] { return !bluetooth.pairedDevices().empty(); }));
    EXPECT_EQ(bluetooth.pairedDevices(),
              (std::vector<BluetoothDevice>{{kAddress, "Desk mouse", false}}));

    std::vector<std::string> events;
    const auto connects = bluetooth.registerForConnects(
        [&](const BluetoothDevice& d) { events.push_back("connect " + d.address); });
    const auto disconnects = bluetooth.registerForDisconnect(
        kAddress, [&](const BluetoothDevice& d) { events.push_back("disconnect " + d.address); });
    ASSERT_TRUE(connects && disconnects);
    EXPECT_FALSE(bluetooth.registerForDisconnect("aa:bb:cc:dd:ee:01", nullptr))
        << "the address is exact text";

    bluez("ConnectDevice");
    ASSERT_TRUE(waitFor([&] { return events.size() == 1; }));
    EXPECT_TRUE(bluetooth.device(kAddress)->connected);
    bluez("DisconnectDevice");
    ASSERT_TRUE(waitFor([&] { return events.size() == 2; }));
    settle();
    EXPECT_EQ(events, (std::vector<std::string>{"connect " + std::string(kAddress),
                                                "disconnect " + std::string(kAddress)}));

    // A battery service appears on the device, then its level changes.
    mock(DBusObject{"org.bluez", kDevicePath, "org.freedesktop.DBus.Mock"}, "AddProperties",
         [](sd_bus_message* m) {
             return sd_bus_message_append(m, "sa{sv}", "org.bluez.Battery1", 1, "Percentage", "y",
                                          std::uint8_t{15});
         });
    mock(DBusObject{"org.bluez", "/", "org.freedesktop.DBus.Mock"}, "EmitSignal",
         [](sd_bus_message* m) {
             return sd_bus_message_append(m, "sssav", "org.freedesktop.DBus.ObjectManager",
                                          "InterfacesAdded", "oa{sa{sv}}", 2, "o", kDevicePath,
                                          "a{sa{sv}}", 1, "org.bluez.Battery1", 1, "Percentage",
                                          "y", std::uint8_t{15});
         });
    ASSERT_TRUE(waitFor([&] { return !bluetooth.batteryLevels().empty(); }));
    EXPECT_EQ(bluetooth.batteryLevels(), (std::vector<BluetoothBatteryLevel>{{kAddress, 15}}));
    setBattery(80);
    EXPECT_TRUE(waitFor([&] {
        return bluetooth.batteryLevels() == std::vector<BluetoothBatteryLevel>{{kAddress, 80}};
    }));

    // A connected device that goes away is a disconnect, for its own registrations only.
    bluez("ConnectDevice");
    ASSERT_TRUE(waitFor([&] { return events.size() == 3; }));
    const auto again = bluetooth.registerForDisconnect(
        kAddress, [&](const BluetoothDevice& d) { events.push_back("gone " + d.address); });
    bluetooth.unregister(*disconnects);
    mock(DBusObject{"org.bluez", "/org/bluez/hci0", "org.bluez.Adapter1"}, "RemoveDevice",
         [](sd_bus_message* m) { return sd_bus_message_append(m, "o", kDevicePath); });
    ASSERT_TRUE(waitFor([&] { return events.size() == 4; }));
    settle();
    EXPECT_EQ(events.back(), "gone " + std::string(kAddress));
    EXPECT_EQ(events.size(), 4u);
    EXPECT_FALSE(bluetooth.device(kAddress));
    EXPECT_TRUE(bluetooth.batteryLevels().empty());
    ASSERT_TRUE(again);
}

TEST_F(LinuxBluetoothBusTest, DevicesConnectedAtStartAreAStateAndBlueZLeavingDisconnectsThem) {
    startService("bluez5");
    mock(kBluezMock, "AddAdapter",
         [](sd_bus_message* m) { return sd_bus_message_append(m, "ss", "hci0", "desk"); });
    mock(kBluezMock, "AddDevice", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "sss", "hci0", kAddress, "Headphones");
    });
    bluez("ConnectDevice");

    LinuxBluetooth bluetooth(system, test::kSysfs + "desktop");
    std::vector<std::string> events;
    const auto connects = bluetooth.registerForConnects(
        [&](const BluetoothDevice& d) { events.push_back("connect " + d.address); });
    ASSERT_TRUE(waitFor([&] { return bluetooth.isSettled(); }));
    EXPECT_EQ(bluetooth.authorization(), BluetoothAuthorization::allowedAlways);
    ASSERT_TRUE(bluetooth.device(kAddress));
    EXPECT_TRUE(bluetooth.device(kAddress)->connected);
    const auto disconnects = bluetooth.registerForDisconnect(
        kAddress, [&](const BluetoothDevice& d) { events.push_back("disconnect " + d.address); });
    ASSERT_TRUE(connects && disconnects);

    stopService("bluez5");
    ASSERT_TRUE(waitFor([&] { return !events.empty(); }));
    EXPECT_EQ(events, std::vector<std::string>{"disconnect " + std::string(kAddress)});
    EXPECT_EQ(bluetooth.authorization(), BluetoothAuthorization::restricted);

    // BlueZ comes back: its objects are read again and followed.
    startService("bluez5");
    mock(kBluezMock, "AddAdapter",
         [](sd_bus_message* m) { return sd_bus_message_append(m, "ss", "hci0", "desk"); });
    mock(kBluezMock, "AddDevice", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "sss", "hci0", kAddress, "Headphones");
    });
    ASSERT_TRUE(waitFor([&] { return bluetooth.device(kAddress).has_value(); }));
    EXPECT_EQ(bluetooth.authorization(), BluetoothAuthorization::allowedAlways);
    bluez("ConnectDevice");
    EXPECT_TRUE(waitFor([&] { return events.size() == 2; }));
}

TEST_F(LinuxBluetoothBusTest, ARequestReadsBlueZAgainAndTellsOnlyAChangedAnswer) {
    startService("bluez5");
    LinuxBluetooth bluetooth(system, test::kSysfs + "desktop");
    int authorizationChanges = 0;
    Subscription s = bluetooth.authorizationChanged.subscribe([&] { ++authorizationChanges; });
    ASSERT_TRUE(waitFor([&] { return bluetooth.isSettled(); }));
    ASSERT_EQ(bluetooth.authorization(), BluetoothAuthorization::restricted);

    // An adapter whose arrival BlueZ never announced.
    mock(DBusObject{"org.bluez", "/", "org.freedesktop.DBus.Mock"}, "AddObject",
         [](sd_bus_message* m) {
             return sd_bus_message_append(m, "ssa{sv}a(ssss)", "/org/bluez/hci1",
                                          "org.bluez.Adapter1", 0, 0);
         });
    settle();
    EXPECT_EQ(bluetooth.authorization(), BluetoothAuthorization::restricted);
    EXPECT_EQ(authorizationChanges, 0);

    bluetooth.requestAuthorization();
    ASSERT_TRUE(waitFor([&] { return authorizationChanges == 1; }));
    EXPECT_EQ(bluetooth.authorization(), BluetoothAuthorization::allowedAlways);

    bluetooth.requestAuthorization();
    bluetooth.requestAuthorization();
    settle();
    settle();
    EXPECT_EQ(authorizationChanges, 1) << "the same answer is not told again";
    EXPECT_EQ(bluetooth.authorization(), BluetoothAuthorization::allowedAlways);
}

}  // namespace
}  // namespace orvel
