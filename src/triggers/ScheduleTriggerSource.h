#pragma once

#include <set>
#include <vector>

#include "foundation/UUID.h"
#include "triggers/TriggerRule.h"

namespace orvel {

// Turns the clock into rule events for schedule rules: windows, fire-at times and one-time
// dates.
//
// This is its first, least form: it keeps the schedule rules the engine hands it but runs no
// tick yet, so no window is open and no events are reported. Callers already use the interface
// the full form keeps.
class ScheduleTriggerSource {
  public:
    static ScheduleTriggerSource& shared();

    // Keeps the given rules whose family is schedule.
    void start(const std::vector<TriggerRule>& rules);
    void stop();

    // The window rules whose window holds now.
    std::set<UUID> activeNow;

    bool isRunning() const { return running_; }
    const std::vector<TriggerRule>& rules() const { return rules_; }

  private:
    ScheduleTriggerSource() = default;

    std::vector<TriggerRule> rules_;
    bool running_ = false;
};

}  // namespace orvel
