// The power centre and the Bluetooth source on the real Linux backends, against mocks of
// power-profiles-daemon, UPower and BlueZ on a private bus; everything else is simulated.

#include <gtest/gtest.h>

#include <algorithm>

#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "platform/linux/LinuxBluetooth.h"
#include "platform/linux/LinuxPowerSources.h"
#include "platform/sim/SimBackedPlatform.h"
#include "support/BusTest.h"
#include "support/RealThings.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"

namespace orvel {
namespace {

using test::waitFor;

constexpr const char* kHeadsetAddress = "AA:BB:CC:DD:EE:01";
constexpr const char* kHeadsetPath = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01";

// The simulated machine with the real power sources and Bluetooth on the test's bus.
class BusMachine final : public SimBackedPlatform {
  public:
    BusMachine(const std::shared_ptr<DBusConnection>& bus, const std::string& sysRoot,
               const std::string& folder)
        : power_(sysRoot, bus), bluetooth_(bus, sysRoot) {
        sim_.paths().setRoot(folder);
    }

    PowerSources& powerSources() override { return power_; }
    Bluetooth& bluetooth() override { return bluetooth_; }

    LinuxBluetooth& linuxBluetooth() { return bluetooth_; }

  private:
    LinuxPowerSources power_;
    LinuxBluetooth bluetooth_;
};

class SafetyOnTheBusTest : public test::ServicesOnTheBusTest {
  protected:
    // Installs the machine and waits until its backends have read the bus.
    BusMachine& install(const std::string& machine) {
        auto owned = std::make_unique<BusMachine>(system, test::kSysfs + machine, folder());
        BusMachine& m = *owned;
        Platform::install(std::move(owned));
        EXPECT_TRUE(
            waitFor([&] { return system->namesKnown() && m.linuxBluetooth().isSettled(); }));
        return m;
    }
    void call(const DBusObject& object, const char* member, const DBusConnection::Append& append) {
        test::Reply reply = test::callAndWait(*probe, object, member, append);
        ASSERT_TRUE(reply) << member;
        const auto error = DBusConnection::errorOf(reply.get());
        EXPECT_FALSE(error) << member << ": " << error.value_or("");
    }
    void bluez(const char* member, const char* signature, auto... args) {
        call(DBusObject{"org.bluez", "/", "org.bluez.Mock"}, member,
             [&](sd_bus_message* m) { return sd_bus_message_append(m, signature, args...); });
    }
    // Whether the activity log gets this "kind|title|detail" line (entries land on a later
    // turn of the loop).
    bool logged(const std::string& line) {
        return waitFor([&] {
            const auto& entries = services().activityLog().entries();
            return std::any_of(entries.begin(), entries.end(), [&](const ActivityEntry& entry) {
                return std::string(rawValue(entry.kind)) + "|" + entry.title + "|" + entry.detail ==
                       line;
            });
        });
    }

    OrvelController& controller() { return services().controller(); }
    PowerTriggerCenter& center() { return services().powerCenter(); }
};

TEST_F(SafetyOnTheBusTest, ThePowerSaverProfileEndsTheSessionAndBlocksTheNext) {
    startService("power_profiles_daemon");
    install("laptop-on-ac");
    services().preferences().lpmEnd = true;
    center().start();
    controller().startForSeconds(std::nullopt);
    ASSERT_TRUE(controller().isActive());

    call(DBusObject{"net.hadess.PowerProfiles", "/net/hadess/PowerProfiles",
                    "org.freedesktop.DBus.Properties"},
         "Set", [](sd_bus_message* m) {
             return sd_bus_message_append(m, "ssv", "net.hadess.PowerProfiles", "ActiveProfile",
                                          "s", "power-saver");
         });
    ASSERT_TRUE(waitFor([&] { return !controller().isActive(); }));
    EXPECT_TRUE(
        logged("ended|Power Saver turned on|Ended session \u2014 Battery/Power safety "
               "trigger"));
    EXPECT_EQ(controller().powerBlockReason(),
              std::optional<std::string>(PowerTriggerCenter::kLowPowerModeReason));
    controller().startForSeconds(std::nullopt);
    EXPECT_FALSE(controller().isActive()) << "blocked while the profile stays";
}

TEST_F(SafetyOnTheBusTest, AUPSThatTakesOverStartsASessionAndWallPowerEndsIt) {
    startService("upower");
    const DBusObject upower{"org.freedesktop.UPower", "/org/freedesktop/UPower",
                            "org.freedesktop.DBus.Mock"};
    const char* ups = "/org/freedesktop/UPower/devices/ups0";
    const auto setState = [&](std::uint32_t state) {
        call(upower, "SetDeviceProperties", [&](sd_bus_message* m) {
            return sd_bus_message_append(m, "oa{sv}", ups, 2, "Type", "u", 3u, "State", "u", state);
        });
    };
    call(upower, "AddDischargingBattery", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssdx", "ups0", "UPS", 90.0, std::int64_t{1800});
    });
    setState(4);
    install("desktop");
    services().preferences().upsReact = true;
    center().start();
    // Once the backend's mirror shows the change, the centre's next evaluation acts on it (run
    // here at once rather than waiting for its 10 s timer).
    const auto evaluateWhenProviding = [&](const char* type) {
        const bool seen = waitFor([&] {
            const auto snapshot = Platform::current().powerSources().snapshot();
            return snapshot && !snapshot->sources.empty() &&
                   snapshot->providingPowerSourceType == std::optional<std::string>(type);
        });
        center().evaluate();
        return seen;
    };
    ASSERT_TRUE(evaluateWhenProviding(power_source::kACPower));
    EXPECT_TRUE(center().upsPresent());
    EXPECT_FALSE(controller().isActive());

    setState(2);
    ASSERT_TRUE(evaluateWhenProviding(power_source::kUPSPower));
    EXPECT_TRUE(controller().isActive());
    EXPECT_TRUE(center().upsStartedSession);
    setState(1);
    ASSERT_TRUE(evaluateWhenProviding(power_source::kACPower));
    EXPECT_FALSE(controller().isActive());
    EXPECT_TRUE(
        logged("ended|Wall power returned|Ended session \u2014 Battery/Power safety "
               "trigger"));
}

TEST_F(SafetyOnTheBusTest, ABlueZDeviceStartsAndEndsItsRuleAndItsBatteryFloorEndsTheSession) {
    startService("bluez5");
    bluez("AddAdapter", "ss", "hci0", "desk");
    bluez("AddDevice", "sss", "hci0", kHeadsetAddress, "Headphones");
    bluez("PairDevice", "ssi", "hci0", kHeadsetAddress, 0x240404);
    install("desktop");
    ASSERT_EQ(Platform::current().bluetooth().authorization(),
              BluetoothAuthorization::allowedAlways);
    TriggerEngine& engine = services().triggerEngine();
    center().start();
    engine.start();
    TriggerRule rule;
    rule.source = TriggerSource::bluetooth;
    rule.name = "Desk";
    rule.btAddress = kHeadsetAddress;
    engine.add(rule);

    bluez("ConnectDevice", "ss", "hci0", kHeadsetAddress);
    ASSERT_TRUE(waitFor([&] { return controller().isActive(); }));
    EXPECT_EQ(controller().startedByRuleName(), "Desk");
    bluez("DisconnectDevice", "ss", "hci0", kHeadsetAddress);
    ASSERT_TRUE(waitFor([&] { return !controller().isActive(); }));

    // The device reports a low battery; a floor rule added now checks at once.
    call(DBusObject{"org.bluez", kHeadsetPath, "org.freedesktop.DBus.Mock"}, "AddProperties",
         [](sd_bus_message* m) {
             return sd_bus_message_append(m, "sa{sv}", "org.bluez.Battery1", 1, "Percentage", "y",
                                          std::uint8_t{15});
         });
    call(DBusObject{"org.bluez", "/", "org.freedesktop.DBus.Mock"}, "EmitSignal",
         [](sd_bus_message* m) {
             return sd_bus_message_append(m, "sssav", "org.freedesktop.DBus.ObjectManager",
                                          "InterfacesAdded", "oa{sa{sv}}", 2, "o", kHeadsetPath,
                                          "a{sa{sv}}", 1, "org.bluez.Battery1", 1, "Percentage",
                                          "y", std::uint8_t{15});
         });
    bluez("ConnectDevice", "ss", "hci0", kHeadsetAddress);
    ASSERT_TRUE(waitFor([&] {
        return controller().isActive() && !Platform::current().bluetooth().batteryLevels().empty();
    }));
    TriggerRule floor;
    floor.source = TriggerSource::bluetooth;
    floor.name = "Headphones battery";
    floor.btAddress = kHeadsetAddress;
    floor.onAppear = TriggerAction::nothing;
    floor.onClear = TriggerAction::nothing;
    floor.btBattEnd = 20;
    floor.btBattRecover = 50;
    engine.add(floor);
    ASSERT_TRUE(waitFor([&] { return !controller().isActive(); }));
    EXPECT_EQ(center().holds(),
              (std::vector<PowerTriggerCenter::Hold>{
                  {"bt-aa-bb-cc-dd-ee-01",
                   "Headphones battery battery 15% \u2014 below its 20% floor"}}));
    EXPECT_TRUE(center().pending.has_value());
    // Power changes are announced here: nothing but the hold itself shows the notice.
    ASSERT_TRUE(Platform::current().powerSources().announcesChanges());
    EXPECT_TRUE(waitFor([&] {
        return center().notice() ==
               PowerTriggerCenter::Notice{
                   "Waiting to re-enable: Headphones battery battery 15% \u2014 below its 20% "
                   "floor",
                   1};
    }));
}

}  // namespace
}  // namespace orvel
