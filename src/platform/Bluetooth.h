#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Signal.h"

// Bluetooth devices paired with this machine, their connections and battery levels, and whether
// the process may use Bluetooth at all. Threading: main thread only; handlers are called on the
// main thread.

namespace orvel {

// The process's permission to use Bluetooth; the raw values are the ones callers compare.
enum class BluetoothAuthorization : int {
    notDetermined = 0,
    restricted = 1,
    denied = 2,
    allowedAlways = 3,
};

struct BluetoothDevice {
    // The address as the Bluetooth stack writes it; rules compare it as exact text.
    std::string address;
    std::optional<std::string> name;
    bool connected = false;

    bool operator==(const BluetoothDevice&) const = default;
};

// A battery level that the machine publishes for a Bluetooth device.
struct BluetoothBatteryLevel {
    std::string address;
    std::int64_t percent = 0;
    bool operator==(const BluetoothBatteryLevel&) const = default;
};

// Identifies a connect or disconnect registration until it is unregistered.
using BluetoothRegistration = std::uint64_t;

class Bluetooth {
  public:
    using DeviceHandler = std::function<void(const BluetoothDevice&)>;

    virtual ~Bluetooth() = default;

    virtual BluetoothAuthorization authorization() = 0;
    // Asks for the permission when it is not determined yet; returns at once, and the answer
    // comes through authorizationChanged (only when it differs).
    virtual void requestAuthorization() = 0;
    // The paired devices, in the stack's order.
    virtual std::vector<BluetoothDevice> pairedDevices() = 0;
    // The known device with exactly this address, if there is one.
    virtual std::optional<BluetoothDevice> device(std::string_view address) = 0;

    // Calls `handler` whenever any device connects; none when the stack refuses.
    virtual std::optional<BluetoothRegistration> registerForConnects(DeviceHandler handler) = 0;
    // Calls `handler` when the device with exactly this address disconnects (or goes away while
    // connected); none when the stack refuses or knows no such device.
    virtual std::optional<BluetoothRegistration> registerForDisconnect(std::string_view address,
                                                                       DeviceHandler handler) = 0;
    // Ends a registration; an unknown one is ignored.
    virtual void unregister(BluetoothRegistration registration) = 0;

    // The battery levels published now, one entry per source that names a device address (one
    // device may appear more than once; later entries are newer). Answered without waiting.
    virtual std::vector<BluetoothBatteryLevel> batteryLevels() = 0;

    // Sent when authorization() may answer differently (an adapter came or went).
    Signal<> authorizationChanged;
};

}  // namespace orvel
