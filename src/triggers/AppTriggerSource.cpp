#include "triggers/AppTriggerSource.h"

#include <algorithm>
#include <set>

#include "core/OrvelController.h"
#include "foundation/TextCompare.h"
#include "platform/Workspace.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

namespace {

// Every identifier the applications running now go by, of those asked for.
std::set<std::string> runningBundleIDs(Workspace& workspace, const std::set<std::string>& wanted) {
    std::set<std::string> ids;
    if (wanted.empty()) {
        return ids;
    }
    for (const auto& app : workspace.runningApplicationsKnownAs(wanted)) {
        for (const auto& id : wanted) {
            if (app.isKnownAs(id)) {
                ids.insert(id);
            }
        }
    }
    return ids;
}

bool isRunning(Workspace& workspace, const std::string& bundleID) {
    return !workspace.runningApplicationsKnownAs({bundleID}).empty();
}

}  // namespace

AppTriggerSource::AppTriggerSource(Workspace& workspace, std::function<TriggerEngine&()> engine,
                                   std::function<OrvelController&()> controller)
    : workspace_(workspace), engine_(std::move(engine)), controller_(std::move(controller)) {}

void AppTriggerSource::setRules(const std::vector<TriggerRule>& appRules) {
    rules.clear();
    for (const auto& rule : appRules) {
        if (rule.source == TriggerSource::app) {
            rules.push_back(rule);
        }
    }
    active = true;
    startObserving();
    const std::set<std::string> running = runningBundleIDs(workspace_, followedIDs());
    std::map<std::string, bool> state;
    pollState_.clear();
    for (const auto& rule : rules) {
        if (rule.appBundleID) {
            const bool now = running.count(*rule.appBundleID) != 0;
            state[*rule.appBundleID] = now;
            pollState_[rule.id] = now;
        }
    }
    if (oneOffBundleID) {
        auto old = runningState.find(*oneOffBundleID);
        state[*oneOffBundleID] =
            old != runningState.end() ? old->second : running.count(*oneOffBundleID) != 0;
    }
    runningState = std::move(state);
    updatePolling();
}

void AppTriggerSource::clearRules() {
    active = false;
    rules.clear();
    pollState_.clear();
    std::erase_if(runningState,
                  [this](const auto& entry) { return entry.first != oneOffBundleID; });
    stopIfIdle();
    updatePolling();
    if (isObserving()) {
        workspace_.setLaunchInterest(followedIDs());
    }
}

std::set<std::string> AppTriggerSource::followedIDs() const {
    std::set<std::string> ids;
    for (const auto& rule : rules) {
        if (rule.appBundleID) {
            ids.insert(*rule.appBundleID);
        }
    }
    if (oneOffBundleID) {
        ids.insert(*oneOffBundleID);
    }
    return ids;
}

void AppTriggerSource::startObserving() {
    workspace_.setLaunchInterest(followedIDs());
    if (launchObserver_.isActive()) {
        return;
    }
    // The subscriptions are members: they end with the source, so `this` never dangles.
    launchObserver_ = workspace_.didLaunchApplication.subscribe(
        [this](const RunningApplication& app) { handleWorkspaceNotification(app, true); });
    quitObserver_ = workspace_.didTerminateApplication.subscribe(
        [this](const RunningApplication& app) { handleWorkspaceNotification(app, false); });
}

void AppTriggerSource::updatePolling() {
    const bool needed = std::any_of(rules.begin(), rules.end(),
                                    [](const TriggerRule& rule) {
                                        return rule.enabled && rule.watchBackground.value_or(false);
                                    }) ||
                        (oneOffBundleID && oneOffIsBackground);
    if (!needed) {
        pollTimer_.cancel();
    } else if (!pollTimer_.isValid()) {
        pollTimer_ = RunLoop::main().every(kPollInterval, [this] { poll(); });
    }
}

void AppTriggerSource::stopIfIdle() {
    if (active || oneOffBundleID) {
        return;
    }
    launchObserver_.cancel();
    quitObserver_.cancel();
    workspace_.setLaunchInterest(std::nullopt);
    pollTimer_.cancel();
    runningState.clear();
    pollState_.clear();
}

void AppTriggerSource::handleWorkspaceNotification(const RunningApplication& app, bool launched) {
    // Each identifier it goes by counts: rules made with another entry of the same program too.
    std::set<std::string> ids = followedIDs();
    std::erase_if(ids, [&](const std::string& id) { return !app.isKnownAs(id); });
    if (!launched) {
        // The application is still there while another instance of it runs.
        for (const auto& id : runningBundleIDs(workspace_, ids)) {
            ids.erase(id);
        }
    }
    for (const auto& id : ids) {
        runningState[id] = launched;
    }
    const std::vector<TriggerRule> walk = rules;  // an event may hand over new rules
    for (const auto& rule : walk) {
        if (rule.appBundleID && ids.count(*rule.appBundleID) != 0) {
            pollState_[rule.id] = launched;
            engine_().handle(rule.id, launched, false);
        }
    }
    if (!launched && oneOffBundleID && ids.count(*oneOffBundleID) != 0) {
        clearOneOff();
        controller_().endIfUntilAppQuits();
    }
}

void AppTriggerSource::poll() {
    const std::set<std::string> running = runningBundleIDs(workspace_, followedIDs());
    const std::vector<TriggerRule> walk = rules;
    for (const auto& rule : walk) {
        if (!rule.watchBackground.value_or(false) || !rule.appBundleID) {
            continue;
        }
        const bool now = running.count(*rule.appBundleID) != 0;
        std::optional<bool> previous;
        if (auto it = pollState_.find(rule.id); it != pollState_.end()) {
            previous = it->second;
        } else if (auto entry = runningState.find(*rule.appBundleID); entry != runningState.end()) {
            previous = entry->second;
        }
        pollState_[rule.id] = now;
        runningState[*rule.appBundleID] = now;
        if (previous && *previous != now) {
            engine_().handle(rule.id, now, false);
        }
    }
    if (oneOffBundleID) {
        const std::string id = *oneOffBundleID;
        const bool now = running.count(id) != 0;
        const auto entry = runningState.find(id);
        const bool wasRunning = entry != runningState.end() && entry->second;
        runningState[id] = now;
        // An application never seen running does not end the session.
        if (wasRunning && !now) {
            clearOneOff();
            controller_().endIfUntilAppQuits();
        }
    }
}

void AppTriggerSource::watchOneOff(const std::string& bundleID) {
    oneOffBundleID = bundleID;
    oneOffIsBackground = isBackgroundApp(workspace_, bundleID);
    workspace_.setLaunchInterest(followedIDs());
    runningState[bundleID] = isRunning(workspace_, bundleID);
    startObserving();
    updatePolling();
}

void AppTriggerSource::clearOneOff() {
    if (!oneOffBundleID) {
        return;
    }
    oneOffBundleID.reset();
    oneOffIsBackground = false;
    updatePolling();
    stopIfIdle();
    if (isObserving()) {
        workspace_.setLaunchInterest(followedIDs());
    }
}

bool AppTriggerSource::isBackgroundApp(Workspace& workspace, const std::string& bundleID,
                                       const std::optional<std::string>& url) {
    if (const auto running = workspace.runningApplicationsKnownAs({bundleID}); !running.empty()) {
        return running.front().activationPolicy != ActivationPolicy::regular;
    }
    if (!url) {
        return false;
    }
    const auto bundle = workspace.bundle(*url);
    if (!bundle) {
        return false;
    }
    return infoPlistFlag("LSUIElement", *bundle) || infoPlistFlag("LSBackgroundOnly", *bundle);
}

bool AppTriggerSource::infoPlistFlag(std::string_view key, const ApplicationBundle& bundle) {
    auto it = bundle.info.find(key);
    if (it == bundle.info.end()) {
        return false;
    }
    const PropertyValue& value = it->second;
    if (const bool* flag = value.as<bool>()) {
        return *flag;
    }
    if (const std::int64_t* number = value.as<std::int64_t>()) {
        return *number == 1;
    }
    if (const double* number = value.as<double>()) {
        return *number == 1.0;
    }
    if (const std::string* text = value.as<std::string>()) {
        std::string lower = *text;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
            return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        });
        return *text == "1" || lower == "true";
    }
    return false;
}

std::vector<std::pair<std::string, std::string>> AppTriggerSource::runningApps(
    Workspace& workspace) {
    std::vector<std::pair<std::string, std::string>> apps;
    for (const auto& app : workspace.runningApplications()) {
        if (app.activationPolicy != ActivationPolicy::regular || !app.bundleIdentifier) {
            continue;
        }
        apps.emplace_back(app.localizedName.value_or(*app.bundleIdentifier), *app.bundleIdentifier);
    }
    std::stable_sort(apps.begin(), apps.end(), [](const auto& a, const auto& b) {
        return localizedCaseInsensitiveCompare(a.first, b.first) < 0;
    });
    return apps;
}

}  // namespace orvel
