#include "platform/sim/SimWorkspace.h"

#include <algorithm>
#include <utility>

#include "foundation/VirtualRunLoop.h"

namespace orvel {

RunningApplication SimWorkspace::launch(std::optional<std::string> bundleIdentifier,
                                        std::optional<std::string> localizedName,
                                        ActivationPolicy policy,
                                        std::optional<std::string> bundleURL, Notice notice) {
    return launch(RunningApplication{0, std::move(bundleIdentifier), std::move(localizedName),
                                     policy, std::move(bundleURL)},
                  notice);
}

RunningApplication SimWorkspace::launch(RunningApplication app, Notice notice) {
    app.processIdentifier = nextPid_++;
    apps_.push_back(app);
    // Launches outside the interest are left out, as a backend that never reads them would.
    const bool interesting =
        !launchInterest_ || std::any_of(launchInterest_->begin(), launchInterest_->end(),
                                        [&](const std::string& id) { return app.isKnownAs(id); });
    if (notice == Notice::sent && interesting) {
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
    if (auto it = bundles_.find(url); it != bundles_.end()) {
        return ApplicationBundle{it->first, it->second};
    }
    if (auto it = installed_.find(url); it != installed_.end()) {
        return ApplicationBundle{it->first,
                                 {{"CFBundleIdentifier", it->second.bundleIdentifier},
                                  {"CFBundleName", it->second.localizedName},
                                  {"LSUIElement", false}}};
    }
    return std::nullopt;
}

void SimWorkspace::installedApplications(ApplicationsCompletion completion) {
    std::vector<InstalledApplication> apps;
    for (const auto& [url, app] : installed_) {
        const bool file = !app.icon.empty() && app.icon.front() == '/';
        apps.push_back({url, app.bundleIdentifier, app.localizedName, file ? "" : app.icon,
                        file ? app.icon : "", app.runsInTerminal});
    }
    auto slot = opening_.emplace(opening_.end());
    *slot = RunLoop::main().after(
        0,
        [this, slot, apps = std::move(apps), completion = std::move(completion)] {
            opening_.erase(slot);
            completion(apps);
        },
        TimerMode::Common);
}

Result<void> SimWorkspace::openURL(std::string_view url) {
    if (nextOpenFailure_) {
        Error error{*nextOpenFailure_};
        nextOpenFailure_.reset();
        return error;
    }
    if (opensFail_) {
        return Error{"The simulated machine opens no addresses."};
    }
    openedURLs_.emplace_back(url);
    return {};
}

Result<void> SimWorkspace::openSettingsPanel(std::string_view anchor) {
    if (std::find(panels_.begin(), panels_.end(), anchor) == panels_.end()) {
        return Error{"The simulated desktop has no settings for " + std::string(anchor) + "."};
    }
    openedPanels_.emplace_back(anchor);
    return {};
}

void SimWorkspace::install(std::string url, std::string bundleIdentifier, std::string localizedName,
                           std::string icon, bool runsInTerminal) {
    installed_[std::move(url)] = Installed{std::move(bundleIdentifier), std::move(localizedName),
                                           std::move(icon), runsInTerminal};
}

void SimWorkspace::openApplication(std::string_view url, OpenCompletion completion) {
    openedApplications_.emplace_back(url);
    std::optional<std::string> failure = std::exchange(nextOpenApplicationFailure_, std::nullopt);
    const auto installed = installed_.find(url);
    if (!failure && installed == installed_.end()) {
        failure = "There is no application at " + std::string(url) + ".";
    }
    std::optional<Installed> app;
    if (installed != installed_.end()) {
        app = installed->second;
    }
    // The timer is kept until it fires, so a workspace torn down first never calls back.
    auto slot = opening_.emplace(opening_.end());
    *slot = RunLoop::main().after(
        failure ? 0 : openDelay_,
        [this, slot, path = std::string(url), app, failure, completion = std::move(completion)] {
            opening_.erase(slot);
            if (failure) {
                completion(Error{*failure});
                return;
            }
            completion(
                launch(app->bundleIdentifier, app->localizedName, ActivationPolicy::regular, path));
        },
        TimerMode::Common);
}

void SimWorkspace::sleepFor(double seconds) {
    willSleep.send();
    if (auto* loop = dynamic_cast<VirtualRunLoop*>(&RunLoop::main())) {
        loop->sleepMachine(seconds);
    }
    didWake.send();
}

void SimWorkspace::setClock(Date date) {
    if (auto* loop = dynamic_cast<VirtualRunLoop*>(&RunLoop::main())) {
        loop->setNow(date);
    }
    clockDidChange.send();
}

}  // namespace orvel
