#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "platform/Processes.h"

namespace orvel {

// A program of Orvel's own that runs wherever callers name a system program of another platform.
struct ProgramStandIn {
    std::string path;                     // the path callers use
    std::vector<std::string> candidates;  // ours, in order of preference
};

// Children through fork and exec. Each child has a reaper thread that reads the standard error
// it keeps, waits for its exit and then calls the termination handler on that thread;
// terminate() never signals a reaped pid. Launched children get SIGTERM when Orvel dies, however
// it dies (a SIGKILL included), so that nothing they hold for Orvel outlives it; detached ones
// live on. A detached launch that fails leaves one log line.
//
// A path with a stand-in (by default "/usr/bin/caffeinate") always runs one of Orvel's own
// programs, never what is installed at that path: the first executable candidate, Orvel's
// caffeinate next to the running executable when that is in the build tree, else the one in
// libexec/orvel of the running program's prefix. With none, it names the last candidate, which does
// not run.
class LinuxProcesses final : public Processes {
  public:
    explicit LinuxProcesses(std::vector<ProgramStandIn> standIns = defaultStandIns());

    static std::vector<ProgramStandIn> defaultStandIns();
    // The stand-ins for Orvel running from `runningProgram` (unknown: none).
    static std::vector<ProgramStandIn> standInsFor(
        const std::optional<std::string>& runningProgram);
    std::string resolve(std::string_view path) const override;

    bool isExecutableFile(std::string_view path) override;
    Result<std::shared_ptr<ChildProcess>> launch(const LaunchRequest& request,
                                                 TerminationHandler onTermination) override;
    Result<int> launchDetached(const LaunchRequest& request) override;

  private:
    std::vector<ProgramStandIn> standIns_;
    Logger log_{"processes"};
};

}  // namespace orvel
