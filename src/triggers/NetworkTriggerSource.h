#pragma once

#include <vector>

#include "triggers/TriggerRule.h"

namespace orvel {

// Turns changes of the network situation into rule events for wifiSSID and network rules.
//
// This is its first, least form: it keeps the rules the engine hands it but reads no network
// facts yet, so no matcher matches and no events are reported. Callers already use the
// interface the full form keeps.
class NetworkTriggerSource {
  public:
    static NetworkTriggerSource& shared();

    void start(std::vector<TriggerRule> rules);
    void stop();
    // Whether the matcher's condition holds now.
    bool matches(const NetworkMatcher& matcher) const;

    bool isRunning() const { return running_; }
    const std::vector<TriggerRule>& rules() const { return rules_; }

  private:
    NetworkTriggerSource() = default;

    std::vector<TriggerRule> rules_;
    bool running_ = false;
};

}  // namespace orvel
