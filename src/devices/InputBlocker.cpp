#include "devices/InputBlocker.h"

#include "foundation/Registry.h"

namespace orvel {

InputBlocker& InputBlocker::shared() {
    return ORVEL_SHARED_INSTANCE(InputBlocker);
}

std::vector<std::string> InputBlocker::missingPermissions() {
    std::vector<std::string> missing;
    const auto status = permissionStatus();
    if (!status) {
        return missing;
    }
    if (!status->inputMonitoring) {
        missing.emplace_back("Input Monitoring");
    }
    if (!status->accessibility) {
        missing.emplace_back("Accessibility");
    }
    return missing;
}

KeyboardBacklight& KeyboardBacklight::shared() {
    return ORVEL_SHARED_INSTANCE(KeyboardBacklight);
}

}  // namespace orvel
