#include "triggers/NetworkTriggerSource.h"

#include "foundation/Registry.h"

namespace orvel {

NetworkTriggerSource& NetworkTriggerSource::shared() {
    return ORVEL_SHARED_INSTANCE(NetworkTriggerSource);
}

void NetworkTriggerSource::start(std::vector<TriggerRule> rules) {
    rules_ = std::move(rules);
    running_ = true;
}

void NetworkTriggerSource::stop() {
    running_ = false;
    rules_.clear();
}

bool NetworkTriggerSource::matches(const NetworkMatcher&) const {
    return false;
}

}  // namespace orvel
