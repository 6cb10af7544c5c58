#include "platform/sim/SimProcesses.h"

#include <algorithm>

namespace orvel {

SimChildProcess::SimChildProcess(int pid, LaunchRequest request, TerminationHandler handler)
    : pid_(pid), request_(std::move(request)), handler_(std::move(handler)) {}

void SimChildProcess::terminate() {
    if (!running_) {
        return;
    }
    terminateRequested_ = true;
    exit(SimProcesses::kSigTermStatus);
}

void SimChildProcess::kill() {
    exit(SimProcesses::kSigKillStatus);
}

void SimChildProcess::exit(int status, std::string_view standardError) {
    if (!running_) {
        return;
    }
    running_ = false;
    status_ = status;
    if (request_.keepStandardError) {
        standardError_ = standardError.substr(standardError.size() -
                                              std::min(standardError.size(), kStandardErrorLimit));
    }
    if (auto handler = std::exchange(handler_, nullptr)) {
        handler(status);
    }
}

bool SimProcesses::isExecutableFile(std::string_view path) {
    return executables_.count(resolve(path)) > 0;
}

std::string SimProcesses::resolve(std::string_view path) const {
    const auto standIn = standIns_.find(path);
    return standIn == standIns_.end() ? std::string(path) : standIn->second;
}

Result<std::shared_ptr<ChildProcess>> SimProcesses::launch(const LaunchRequest& request,
                                                           TerminationHandler onTermination) {
    if (auto failure = std::exchange(nextFailure_, std::nullopt)) {
        return Error{*failure};
    }
    if (!isExecutableFile(request.executable)) {
        return Error{"The file \u201C" + request.executable + "\u201D doesn\u2019t exist."};
    }
    auto child = std::make_shared<SimChildProcess>(nextPid_++, request, std::move(onTermination));
    children_.push_back(child);
    return std::shared_ptr<ChildProcess>(child);
}

Result<int> SimProcesses::launchDetached(const LaunchRequest& request) {
    if (auto failure = std::exchange(nextFailure_, std::nullopt)) {
        return Error{*failure};
    }
    detached_.push_back(request);
    return nextPid_++;
}

void SimProcesses::setExecutable(const std::string& path, bool executable) {
    if (executable) {
        executables_.insert(path);
    } else {
        executables_.erase(path);
    }
}

std::vector<std::shared_ptr<SimChildProcess>> SimProcesses::runningChildren() const {
    std::vector<std::shared_ptr<SimChildProcess>> running;
    for (const auto& child : children_) {
        if (child->isRunning()) {
            running.push_back(child);
        }
    }
    return running;
}

std::shared_ptr<SimChildProcess> SimProcesses::lastChild() const {
    return children_.empty() ? nullptr : children_.back();
}

}  // namespace orvel
