#include "triggers/WakeHelperClient.h"

#include "foundation/Registry.h"

namespace orvel {

WakeHelperClient& WakeHelperClient::shared() {
    return ORVEL_SHARED_INSTANCE(WakeHelperClient);
}

std::string WakeHelperClient::statusLine() const {
    std::string line = "wake helper: " + label(state());
    if (lastError()) {
        line += " \u00B7 last error: " + *lastError();
    }
    line += " \u00B7 next wakes queued: " + std::to_string(lastSynced.size());
    return line;
}

}  // namespace orvel
