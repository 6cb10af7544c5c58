#include "devices/DeviceState.h"

#include "devices/InputBlocker.h"
#include "foundation/Log.h"
#include "foundation/Registry.h"
#include "platform/Platform.h"
#include "platform/PowerSources.h"

namespace orvel {

DeviceState& DeviceState::shared() {
    return ORVEL_SHARED_INSTANCE(DeviceState);
}

void DeviceState::reconcile() {
    ++reconcileCount_;
    reconciled.send();
}

bool DeviceState::isLaptop() const {
    const auto snapshot = Platform::current().powerSources().snapshot();
    if (!snapshot) {
        return false;
    }
    for (const auto& source : snapshot->sources) {
        const auto* type = propertyAs<std::string>(source, power_source::kType);
        if (type != nullptr && *type == power_source::kInternalBattery) {
            return true;
        }
    }
    return false;
}

void DeviceState::sleepDisplaysNow() {
    ++sleepDisplaysCount_;
    Logger("devices").notice("Sleeping all displays is not available on this system yet.");
}

std::vector<HidDevice> DeviceState::filterInputDevices(const std::vector<HidDevice>& devices) {
    std::vector<HidDevice> input;
    for (const auto& device : devices) {
        if (device.isInputDevice()) {
            input.push_back(device);
        }
    }
    return input;
}

std::vector<std::string> DeviceState::inputDeviceLines(const std::vector<HidDevice>& devices) {
    std::vector<std::string> lines;
    lines.reserve(devices.size());
    for (const auto& device : devices) {
        lines.push_back(std::string(InputBlocker::isInternal(device) ? "internal" : "external") +
                        " \u00b7 " + InputBlocker::deviceDescription(device));
    }
    return lines;
}

}  // namespace orvel
