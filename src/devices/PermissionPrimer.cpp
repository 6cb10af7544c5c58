#include "devices/PermissionPrimer.h"

#include "core/Preferences.h"
#include "devices/InputBlocker.h"
#include "foundation/Log.h"
#include "foundation/Registry.h"
#include "platform/Platform.h"
#include "platform/UserDefaults.h"
#include "ui/Host.h"

namespace orvel {

namespace {

constexpr const char* kExplanation =
    "Disabling the built-in keyboard or trackpad is the only part of Orvel that needs permission. "
    "macOS is about to ask twice.\n\nInput Monitoring lets Orvel tell which physical device an "
    "event came from, so it can silence the built-in keyboard without touching your external "
    "one.\n\nAccessibility lets it discard those events. Observing alone is not enough.\n\nOrvel "
    "never reads what you type. It looks at which device reported, and at nothing else. Nothing "
    "is stored, logged or sent anywhere, and quitting Orvel always restores normal input.\n\nYou "
    "will see two system dialogs, one after the other.";

bool cachedInputMonitoring() {
    const auto status = InputBlocker::cachedPermissions();
    return status && status->inputMonitoring;
}

bool cachedAccessibility() {
    const auto status = InputBlocker::cachedPermissions();
    return status && status->accessibility;
}

}  // namespace

PermissionPrimer& PermissionPrimer::shared() {
    return ORVEL_SHARED_INSTANCE(PermissionPrimer);
}

bool PermissionPrimer::explainIfNeeded(WeakRef<Preferences> prefs, std::function<void()> revert) {
    PermissionPrimer& primer = shared();
    Request request{prefs, std::move(revert)};
    UserDefaults& defaults = Platform::current().userDefaults();
    if (!defaults.boolForKey(kExplainedKey)) {
        int answer = ui::kAlertFirstButtonReturn + 1;
        if (ui::UiHost::isInstalled()) {
            primer.willExplain.send();
            auto& host = ui::UiHost::current();
            host.application().activate(true);
            ui::AlertContent content;
            content.style = ui::AlertStyle::informational;
            content.floating = true;
            content.messageText = "Orvel needs two permissions for this";
            content.informativeText = kExplanation;
            content.buttons = {"Continue", "Not Now"};
            answer = host.makeAlert(std::move(content))->runModal();
        } else {
            Logger("permissions").notice("No window can explain the permissions; not asking.");
        }
        if (answer != ui::kAlertFirstButtonReturn) {
            Preferences::permissionRequestFinished(false, prefs, request.revert);
            return false;
        }
        defaults.setBool(kExplainedKey, true);
    }
    primer.requestStage(std::move(request));
    return true;
}

void PermissionPrimer::requestStage(Request request) {
    const std::uint16_t status = InputBlocker::permissionStatus();
    const bool inputMonitoring = (status & InputBlocker::kInputMonitoringBit) != 0;
    const bool accessibility = (status & InputBlocker::kAccessibilityBit) != 0;
    if (inputMonitoring && accessibility) {
        finish(request);
    } else if (inputMonitoring) {
        InputBlocker::requestAccessibility();
        pollAccessibility(std::move(request), 0);
    } else {
        InputBlocker::requestInputMonitoring();
        pollInputMonitoring(std::move(request), 0);
    }
}

void PermissionPrimer::pollInputMonitoring(Request request, int attempt) {
    auto moveOn = [this](Request r) {
        if (cachedAccessibility()) {
            finish(r);
        } else {
            InputBlocker::requestAccessibility();
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
        InputBlocker::permissionStatus();
        if (cachedInputMonitoring()) {
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
        InputBlocker::permissionStatus();
        if (cachedAccessibility()) {
            finish(request);
        } else {
            pollAccessibility(request, attempt + 1);
        }
    });
}

// Decided from a fresh probe: the switch stays on only with both permissions.
void PermissionPrimer::finish(const Request& request) {
    const std::uint16_t status = InputBlocker::permissionStatus();
    const bool granted = (status & InputBlocker::kInputMonitoringBit) != 0 &&
                         (status & InputBlocker::kAccessibilityBit) != 0;
    if (!granted) {
        Logger("permissions").notice("Blocking built-in input was not allowed; the switch is off.");
    }
    Preferences::permissionRequestFinished(granted, request.prefs, request.revert);
}

}  // namespace orvel
