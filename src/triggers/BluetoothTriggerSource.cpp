#include "triggers/BluetoothTriggerSource.h"

#include <algorithm>

#include "foundation/Registry.h"
#include "platform/Bluetooth.h"
#include "platform/Platform.h"

namespace orvel {

BluetoothTriggerSource& BluetoothTriggerSource::shared() {
    return ORVEL_SHARED_INSTANCE(BluetoothTriggerSource);
}

void BluetoothTriggerSource::start(std::vector<TriggerRule> rules) {
    rules_ = std::move(rules);
    running_ = true;
}

void BluetoothTriggerSource::stop() {
    if (!running_) {
        return;
    }
    running_ = false;
    rules_.clear();
}

std::vector<BluetoothTriggerSource::PairedDevice> BluetoothTriggerSource::pairedDevices() const {
    std::vector<PairedDevice> devices;
    for (const auto& device : Platform::current().bluetooth().pairedDevices()) {
        if (device.address.empty()) {
            continue;
        }
        devices.push_back(PairedDevice{device.address, device.name.value_or(device.address)});
    }
    std::stable_sort(devices.begin(), devices.end(),
                     [](const PairedDevice& a, const PairedDevice& b) { return a.name < b.name; });
    return devices;
}

bool BluetoothTriggerSource::isConnected(const std::optional<std::string>& address) const {
    if (!address) {
        return false;
    }
    auto device = Platform::current().bluetooth().device(*address);
    return device && device->connected;
}

}  // namespace orvel
