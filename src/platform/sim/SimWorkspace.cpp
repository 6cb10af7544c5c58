#include "platform/sim/SimWorkspace.h"

#include <algorithm>

#include "foundation/VirtualRunLoop.h"

namespace orvel {

RunningApplication SimWorkspace::launch(std::optional<std::string> bundleIdentifier,
                                        std::optional<std::string> localizedName,
                                        ActivationPolicy policy) {
    RunningApplication app{nextPid_++, std::move(bundleIdentifier), std::move(localizedName),
                           policy};
    apps_.push_back(app);
    didLaunchApplication.send(app);
    return app;
}

bool SimWorkspace::quit(std::int32_t processIdentifier) {
    auto it = std::find_if(apps_.begin(), apps_.end(), [&](const RunningApplication& app) {
        return app.processIdentifier == processIdentifier;
    });
    if (it == apps_.end()) {
        return false;
    }
    const RunningApplication app = *it;
    apps_.erase(it);
    didTerminateApplication.send(app);
    return true;
}

Result<void> SimWorkspace::openURL(std::string_view url) {
    if (nextOpenFailure_) {
        Error error{*nextOpenFailure_};
        nextOpenFailure_.reset();
        return error;
    }
    openedURLs_.emplace_back(url);
    return {};
}

void SimWorkspace::sleepFor(double seconds) {
    willSleep.send();
    if (auto* loop = dynamic_cast<VirtualRunLoop*>(&RunLoop::main())) {
        loop->sleepMachine(seconds);
    }
    didWake.send();
}

}  // namespace orvel
