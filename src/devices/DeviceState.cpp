#include "devices/DeviceState.h"

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

}  // namespace orvel
