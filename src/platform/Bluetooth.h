#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Bluetooth devices paired with this machine, and whether the process may use Bluetooth at all.
// Threading: main thread only.

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

class Bluetooth {
  public:
    virtual ~Bluetooth() = default;

    virtual BluetoothAuthorization authorization() = 0;
    // The paired devices, in the stack's order.
    virtual std::vector<BluetoothDevice> pairedDevices() = 0;
    // The paired device with exactly this address, if there is one.
    virtual std::optional<BluetoothDevice> device(std::string_view address) = 0;
};

}  // namespace orvel
