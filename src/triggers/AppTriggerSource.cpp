#include "triggers/AppTriggerSource.h"

#include "core/OrvelController.h"
#include "foundation/Registry.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"

namespace orvel {

AppTriggerSource& AppTriggerSource::shared() {
    return ORVEL_SHARED_INSTANCE(AppTriggerSource);
}

bool AppTriggerSource::isBackgroundApp(const std::string& bundleID) {
    for (const auto& app : Platform::current().workspace().runningApplications()) {
        if (app.bundleIdentifier == bundleID) {
            return app.activationPolicy != ActivationPolicy::regular;
        }
    }
    return false;
}

void AppTriggerSource::setRules(const std::vector<TriggerRule>& appRules) {
    rules.clear();
    for (const auto& rule : appRules) {
        if (rule.source == TriggerSource::app) {
            rules.push_back(rule);
        }
    }
    active = true;
    updatePolling();
}

void AppTriggerSource::clearRules() {
    active = false;
    rules.clear();
    stopIfIdle();
    updatePolling();
}

void AppTriggerSource::watchOneOff(const std::string& bundleID) {
    oneOffBundleID = bundleID;
    oneOffIsBackground = isBackgroundApp(bundleID);
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
}

void AppTriggerSource::updatePolling() {
    if (!oneOffBundleID) {
        return;
    }
    if (!termination_.isActive()) {
        termination_ = Platform::current().workspace().didTerminateApplication.subscribe(
            [this](const RunningApplication& app) {
                if (!oneOffBundleID || app.bundleIdentifier != oneOffBundleID) {
                    return;
                }
                // Another instance may still run; the watch ends with the last one.
                for (const auto& other : Platform::current().workspace().runningApplications()) {
                    if (other.bundleIdentifier == oneOffBundleID) {
                        return;
                    }
                }
                oneOffBundleID.reset();
                oneOffIsBackground = false;
                stopIfIdle();
                OrvelController::shared().endIfUntilAppQuits();
            });
    }
}

void AppTriggerSource::stopIfIdle() {
    if (!oneOffBundleID) {
        termination_.cancel();
    }
}

}  // namespace orvel
