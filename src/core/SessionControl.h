#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/UUID.h"

namespace orvel {

// The way into the session for the trigger engine and the power centre: the operations they use.
// The session's state they observe on the controller. Main thread only.
class SessionControl {
  public:
    virtual ~SessionControl() = default;

    // Starts the rule's session for `seconds` (0: without end), unless a start is blocked.
    virtual void startFromTrigger(const std::string& ruleName, const UUID& ruleID,
                                  std::int64_t seconds) = 0;
    // Ends the running session when a rule owns it.
    virtual void endFromTrigger() = 0;
    // Resumes for an exact remainder, or without end.
    virtual void startForSeconds(std::optional<std::int64_t> seconds) = 0;
    // Why sessions may not start now, shown while none runs; written only by the power centre.
    virtual void setPowerBlockReason(std::optional<std::string> reason) = 0;

  protected:
    SessionControl() = default;
    SessionControl(const SessionControl&) = delete;
    SessionControl& operator=(const SessionControl&) = delete;
};

}  // namespace orvel
