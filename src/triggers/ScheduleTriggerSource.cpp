#include "triggers/ScheduleTriggerSource.h"

#include "foundation/Registry.h"

namespace orvel {

ScheduleTriggerSource& ScheduleTriggerSource::shared() {
    return ORVEL_SHARED_INSTANCE(ScheduleTriggerSource);
}

void ScheduleTriggerSource::start(const std::vector<TriggerRule>& rules) {
    rules_.clear();
    for (const auto& rule : rules) {
        if (rule.source == TriggerSource::schedule) {
            rules_.push_back(rule);
        }
    }
    running_ = true;
}

void ScheduleTriggerSource::stop() {
    running_ = false;
    rules_.clear();
    activeNow.clear();
}

}  // namespace orvel
