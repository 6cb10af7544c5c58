#include "devices/DeviceState.h"

#include "foundation/Registry.h"

namespace orvel {

DeviceState& DeviceState::shared() {
    return ORVEL_SHARED_INSTANCE(DeviceState);
}

void DeviceState::reconcile() {
    ++reconcileCount_;
    reconciled.send();
}

}  // namespace orvel
