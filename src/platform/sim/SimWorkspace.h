#pragma once

#include <vector>

#include "platform/Workspace.h"

namespace orvel {

// Simulated applications and sleep. Tests launch and quit applications and put the machine to
// sleep for a while (the virtual clock's wall time moves on meanwhile).
class SimWorkspace final : public Workspace {
  public:
    std::vector<RunningApplication> runningApplications() override { return apps_; }

    // Control surface for tests.
    RunningApplication launch(std::optional<std::string> bundleIdentifier,
                              std::optional<std::string> localizedName,
                              ActivationPolicy policy = ActivationPolicy::regular);
    // Quits the application with this process identifier; false when none runs.
    bool quit(std::int32_t processIdentifier);
    // Sends will-sleep, lets `seconds` of wall time pass with the timers standing still, then
    // sends did-wake.
    void sleepFor(double seconds);

  private:
    std::vector<RunningApplication> apps_;
    std::int32_t nextPid_ = 501;
};

}  // namespace orvel
