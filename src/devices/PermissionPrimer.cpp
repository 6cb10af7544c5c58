#include "devices/PermissionPrimer.h"

#include "core/Preferences.h"
#include "devices/InputBlocker.h"
#include "devices/UserAsker.h"
#include "foundation/Log.h"
#include "platform/UserDefaults.h"

namespace orvel {

namespace {

bool cachedInputMonitoring(const InputBlocker& blocker) {
    const auto status = blocker.cachedPermissions();
    return status && status->inputMonitoring;
}

bool cachedAccessibility(const InputBlocker& blocker) {
    const auto status = blocker.cachedPermissions();
    return status && status->accessibility;
}

}  // namespace

PermissionPrimer::PermissionPrimer(UserDefaults& defaults, InputBlocker& blocker)
    : defaults_(defaults), blocker_(blocker) {}

bool PermissionPrimer::explainIfNeeded(WeakRef<Preferences> prefs, std::function<void()> revert) {
    Request request{prefs, std::move(revert)};
    UserDefaults& defaults = defaults_;
    if (!defaults.boolForKey(kExplainedKey)) {
        bool goOn = false;
        if (UserAsker* asker = UserAsker::ready()) {
            willExplain.send();
            goOn = asker->explainPermissions();
        } else {
            Logger("permissions").notice("No window can explain the permissions; not asking.");
        }
        if (!goOn) {
            Preferences::permissionRequestFinished(false, prefs, request.revert);
            return false;
        }
        defaults.setBool(kExplainedKey, true);
    }
    requestStage(std::move(request));
    return true;
}

void PermissionPrimer::requestStage(Request request) {
    const std::uint16_t status = blocker_.permissionStatus();
    const bool inputMonitoring = (status & InputBlocker::kInputMonitoringBit) != 0;
    const bool accessibility = (status & InputBlocker::kAccessibilityBit) != 0;
    if (inputMonitoring && accessibility) {
        finish(request);
    } else if (inputMonitoring) {
        blocker_.requestAccessibility();
        pollAccessibility(std::move(request), 0);
    } else {
        blocker_.requestInputMonitoring();
        pollInputMonitoring(std::move(request), 0);
    }
}

void PermissionPrimer::pollInputMonitoring(Request request, int attempt) {
    auto moveOn = [this](Request r) {
        if (cachedAccessibility(blocker_)) {
            finish(r);
        } else {
            blocker_.requestAccessibility();
            pollAccessibility(std::move(r), 0);
        }
    };
    if (attempt >= kChecksPerPermission) {
        moveOn(std::move(request));
        return;
    }
    poll_ = RunLoop::main().after(1.0, [this, request, attempt, moveOn] {
        if (request.prefs.get() == nullptr) {
            return;  // the settings went away: nobody is left to answer
        }
        blocker_.permissionStatus();
        if (cachedInputMonitoring(blocker_)) {
            moveOn(request);
        } else {
            pollInputMonitoring(request, attempt + 1);
        }
    });
}

void PermissionPrimer::pollAccessibility(Request request, int attempt) {
    if (attempt >= kChecksPerPermission) {
        finish(request);
        return;
    }
    poll_ = RunLoop::main().after(1.0, [this, request, attempt] {
        if (request.prefs.get() == nullptr) {
            return;
        }
        blocker_.permissionStatus();
        if (cachedAccessibility(blocker_)) {
            finish(request);
        } else {
            pollAccessibility(request, attempt + 1);
        }
    });
}

// Decided from a fresh probe: the switch stays on only with both permissions.
void PermissionPrimer::finish(const Request& request) {
    const std::uint16_t status = blocker_.permissionStatus();
    const bool allowed = (status & InputBlocker::kInputMonitoringBit) != 0 &&
                         (status & InputBlocker::kAccessibilityBit) != 0;
    if (!allowed) {
        Logger("permissions").notice("Blocking built-in input was not allowed; the switch is off.");
    }
    Preferences::permissionRequestFinished(allowed, request.prefs, request.revert);
    if (allowed) {
        granted.send();
    }
}

}  // namespace orvel
