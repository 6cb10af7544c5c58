#pragma once

#include "platform/Processes.h"

namespace orvel {

// Children through posix_spawn. Each child has a reaper thread that waits for its exit and
// then calls the termination handler on that thread; terminate() never signals a reaped pid.
class LinuxProcesses final : public Processes {
  public:
    bool isExecutableFile(std::string_view path) override;
    Result<std::shared_ptr<ChildProcess>> launch(const LaunchRequest& request,
                                                 TerminationHandler onTermination) override;
    void launchDetached(const LaunchRequest& request) override;
};

}  // namespace orvel
