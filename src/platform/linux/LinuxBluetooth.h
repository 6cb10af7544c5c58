#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "platform/Bluetooth.h"
#include "platform/linux/DBusConnection.h"

namespace orvel {

// Bluetooth through BlueZ on the system bus. The devices, their connections and battery levels
// are a mirror of org.bluez's objects, read once with GetManagedObjects and kept by its
// InterfacesAdded/Removed and PropertiesChanged signals, so no query waits on the bus. A
// device's Connected turning true (or the device added connected) is a connect; turning false,
// or the device going away while connected, a disconnect. Battery levels come from Battery1 and
// from device-scope power supplies under <sys root>/class/power_supply whose name holds a
// Bluetooth address. Without an adapter (or without BlueZ) the process may not use Bluetooth.
class LinuxBluetooth final : public Bluetooth {
  public:
    explicit LinuxBluetooth(std::shared_ptr<DBusConnection> systemBus = nullptr,
                            std::string sysRoot = "/sys");
    ~LinuxBluetooth() override;

    BluetoothAuthorization authorization() override;
    // BlueZ asks nobody: reads BlueZ's objects again, in case an adapter came or went unseen.
    void requestAuthorization() override;
    std::vector<BluetoothDevice> pairedDevices() override;
    std::optional<BluetoothDevice> device(std::string_view address) override;
    std::optional<BluetoothRegistration> registerForConnects(DeviceHandler handler) override;
    std::optional<BluetoothRegistration> registerForDisconnect(std::string_view address,
                                                               DeviceHandler handler) override;
    void unregister(BluetoothRegistration registration) override;
    std::vector<BluetoothBatteryLevel> batteryLevels() override;

    // Whether BlueZ's objects have been read (or BlueZ is known to be absent).
    bool isSettled() const;

  private:
    struct Object {
        bool adapter = false;
        bool device = false;
        std::string address;
        std::optional<std::string> name;
        std::optional<std::string> alias;
        bool paired = false;
        bool connected = false;
        std::optional<std::int64_t> battery;
    };
    struct Watch {
        std::string address;
        DeviceHandler handler;
    };

    void followDaemon();
    // Asks BlueZ for all its objects; the answer goes to loaded().
    void readObjects();
    void loaded(sd_bus_message* reply);
    void interfacesAdded(sd_bus_message* m);
    void interfacesRemoved(sd_bus_message* m);
    void propertiesChanged(sd_bus_message* m);
    void forget();
    void changed(const Object& before, const Object& after);
    void deliver(const BluetoothDevice& device, bool connected);
    static BluetoothDevice deviceOf(const Object& object);
    bool hasAdapter() const;

    std::shared_ptr<DBusConnection> bus_;
    std::string sysRoot_;
    std::shared_ptr<BusName> daemon_;
    Subscription daemonWatch_;
    Subscription ownerWatch_;
    DBusSlot added_;
    DBusSlot removed_;
    DBusSlot properties_;
    DBusSlot query_;
    bool loaded_ = false;
    bool lastAllowed_ = false;
    bool saidAbsent_ = false;
    std::map<std::string, Object> objects_;  // by object path
    std::map<BluetoothRegistration, DeviceHandler> connects_;
    std::map<BluetoothRegistration, Watch> disconnects_;
    BluetoothRegistration lastToken_ = 0;
    Logger log_{"bluetooth"};
};

}  // namespace orvel
