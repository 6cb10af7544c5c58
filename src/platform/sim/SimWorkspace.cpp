#include "platform/sim/SimWorkspace.h"

#include <algorithm>

#include "foundation/VirtualRunLoop.h"

namespace orvel {

RunningApplication SimWorkspace::launch(std::optional<std::string> bundleIdentifier,
                                        std::optional<std::string> localizedName,
                                        ActivationPolicy policy, Notice notice) {
    RunningApplication app;
    app.processIdentifier = nextPid_++;
    app.bundleIdentifier = std::move(bundleIdentifier);
    app.localizedName = std::move(localizedName);
    app.activationPolicy = policy;
    apps_.push_back(app);
    if (notice == Notice::sent) {
        didLaunchApplication.send(app);
    }
    return app;
}

bool SimWorkspace::quit(std::int32_t processIdentifier, Notice notice) {
    auto it = std::find_if(apps_.begin(), apps_.end(), [&](const RunningApplication& app) {
        return app.processIdentifier == processIdentifier;
    });
    if (it == apps_.end()) {
        return false;
    }
    const RunningApplication app = *it;
    apps_.erase(it);
    if (notice == Notice::sent) {
        didTerminateApplication.send(app);
    }
    return true;
}

void SimWorkspace::setBundle(const std::string& url, std::optional<PropertyDictionary> info) {
    if (info) {
        bundles_[url] = std::move(*info);
    } else {
        bundles_.erase(url);
    }
}

std::optional<ApplicationBundle> SimWorkspace::bundle(std::string_view url) {
    auto it = bundles_.find(url);
    if (it == bundles_.end()) {
        return std::nullopt;
    }
    return ApplicationBundle{it->first, it->second};
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
