#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Processes.h"

namespace orvel {

class SimProcesses;

// A simulated child: it runs until the test ends it or it is terminated.
class SimChildProcess final : public ChildProcess {
  public:
    SimChildProcess(int pid, LaunchRequest request, TerminationHandler handler);

    int pid() const override { return pid_; }
    bool isRunning() const override { return running_; }
    void terminate() override;
    void kill() override;
    // A simulated child exits only when a test or a signal ends it: never while waited for.
    bool waitForExit(double) override { return !running_; }
    void clearTerminationHandler() override { handler_ = nullptr; }
    int terminationStatus() const override { return running_ ? -1 : status_; }
    std::string standardError() const override { return standardError_; }

    const LaunchRequest& request() const { return request_; }
    bool wasTerminated() const { return terminateRequested_; }
    bool hasTerminationHandler() const { return static_cast<bool>(handler_); }
    // The child exits by itself with `status`, having written `standardError`; its handler runs
    // on the calling thread.
    void exit(int status = 0, std::string_view standardError = {});

  private:
    int pid_;
    LaunchRequest request_;
    TerminationHandler handler_;
    bool running_ = true;
    bool terminateRequested_ = false;
    int status_ = -1;
    std::string standardError_;
};

// Simulated process launching: records every child and lets tests end them.
class SimProcesses final : public Processes {
  public:
    static constexpr int kSigTermStatus = 128 + 15;
    static constexpr int kSigKillStatus = 128 + 9;

    bool isExecutableFile(std::string_view path) override;
    std::string resolve(std::string_view path) const override;
    Result<std::shared_ptr<ChildProcess>> launch(const LaunchRequest& request,
                                                 TerminationHandler onTermination) override;
    Result<int> launchDetached(const LaunchRequest& request) override;

    // Control surface for tests.
    void setExecutable(const std::string& path, bool executable);
    // Launching `path` runs `program` instead.
    void setStandIn(const std::string& path, std::string program) {
        standIns_[path] = std::move(program);
    }
    // The next launch (detached or not) fails with this description.
    void failNextLaunch(std::string description) { nextFailure_ = std::move(description); }
    const std::vector<std::shared_ptr<SimChildProcess>>& children() const { return children_; }
    std::vector<std::shared_ptr<SimChildProcess>> runningChildren() const;
    std::shared_ptr<SimChildProcess> lastChild() const;
    const std::vector<LaunchRequest>& detachedLaunches() const { return detached_; }

  private:
    std::set<std::string> executables_;
    std::map<std::string, std::string, std::less<>> standIns_;
    std::optional<std::string> nextFailure_;
    std::vector<std::shared_ptr<SimChildProcess>> children_;
    std::vector<LaunchRequest> detached_;
    int nextPid_ = 4001;
};

}  // namespace orvel
