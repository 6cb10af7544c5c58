#include "settings/SettingsReset.h"

#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/PermissionPrimer.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Localization.h"
#include "menubar/AppWindows.h"
#include "menubar/StatusItemController.h"
#include "platform/Permissions.h"
#include "platform/Processes.h"
#include "platform/UserDefaults.h"
#include "settings/SettingsTransfer.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "ui/Host.h"

namespace orvel {

namespace {

std::string grantsUnaffected() {
    return localized("permission grants unaffected");
}

std::string grantsCleared() {
    return localized(
        "permission grants cleared \u2014 Orvel's udev rule is removed; Enable installs it again "
        "when a feature needs it (membership of the input group is left as it is)");
}

// pkexec's own statuses say why nothing ran; any other is the remover's.
std::string removalFailure(int status) {
    const std::int64_t code = status;
    switch (status) {
        case 126:
            return localizedFormat("the administrator's password was not given (exit %lld)",
                                   {code});
        case 127:
            return localizedFormat("not authorized to remove Orvel's udev rule (exit %lld)",
                                   {code});
        default:
            return localizedFormat("removing Orvel's udev rule failed (exit %lld)", {code});
    }
}

}  // namespace

std::string permissionClearingFailedText(const std::string& reason) {
    return localizedFormat(
        "permission grant clearing FAILED (%@) \u2014 use the terminal lines in Help \u203a "
        "Command line",
        {reason});
}

SettingsReset::~SettingsReset() {
    if (child_) {
        child_->clearTerminationHandler();
    }
}

bool SettingsReset::perform(bool clearPermissions, const std::function<void()>& clearViewState) {
    if (running()) {
        log_.notice("A reset of all settings is still running; the new one is not started.");
        return false;
    }
    running = true;
    TriggerEngine& engine = n_.engine;
    ruleCount_ = engine.rules().size();

    OrvelController& controller = n_.controller;
    if (controller.isActive()) {
        controller.stop(true);
    }
    n_.powerCenter.clearSimulation();

    engine.resume();
    engine.deleteAll();
    engine.setMasterEnabled(true);

    n_.drives.resetToDefaults();

    UserDefaults& defaults = n_.defaults;
    defaults.removePersistentDomain();
    // The setters' actions run again, so device holds kept outside a session are released.
    n_.prefs.reload();
    defaults.removeObject(PermissionPrimer::kExplainedKey);

    std::optional<Words> permissionText;
    if (!clearPermissions) {
        permissionText = grantsUnaffected;
    } else if (auto command = n_.permissions.grantClearingCommand(); !command) {
        permissionText = grantsCleared;  // nothing of Orvel's is installed
    } else {
        auto launched = n_.processes.launch(*command, [weakSelf = weakRef(*this)](int status) {
            RunLoop::main().async([weakSelf, status] {
                if (auto* self = weakSelf.get()) {
                    self->clearingEnded(status == 0 ? Words(grantsCleared) : Words([status] {
                        return permissionClearingFailedText(removalFailure(status));
                    }));
                }
            });
        });
        if (launched) {
            child_ = *launched;
            timeout_ = RunLoop::main().after(kClearingTimeout, [this] {
                log_.error("Clearing the permission grants did not end within 120 s; stopped.");
                auto child = std::move(child_);
                child->clearTerminationHandler();
                child->terminate();
                clearingEnded([] {
                    return permissionClearingFailedText(localized("no answer within 120 s"));
                });
            });
        } else {
            log_.error("Could not clear the permission grants: " + launched.error().message);
            permissionText = [message = launched.error().message] {
                return permissionClearingFailedText(
                    localizedFormat("could not start: %@", {message}));
            };
        }
    }

    n_.activityLog.clear();

    defaults.setInteger(kTabSelectionKey, kTroubleshootingTab);
    if (clearViewState) {
        clearViewState();
    }
    if (AppWindows* windows = AppWindows::current()) {
        windows->applyResetDefaults();
    }
    if (StatusItemController* item = StatusItemController::current()) {
        item->refresh();
    }

    if (permissionText) {
        finish(*permissionText);
    }
    return true;
}

void SettingsReset::clearingEnded(const Words& permissionText) {
    timeout_.cancel();
    child_.reset();
    finish(permissionText);
}

void SettingsReset::finish(const Words& permissionText) {
    const auto words = [&] {
        const std::int64_t rules = ruleCount_;
        return localizedPlural("Defaults restored \u00b7 %lld rule deleted \u00b7 %@",
                               "Defaults restored \u00b7 %lld rules deleted \u00b7 %@", rules,
                               {rules, permissionText()});
    };
    const std::string summary = words();
    ActivityLog::add(
        ActivityEntry::make(ActivityEntry::Kind::info, localized("All settings reset"), summary));
    log_.notice("All settings reset: " + inEnglish(words));
    running = false;
    finished.send(summary);
}

void resetAllSettings(const ResetOwners& owners, const std::function<void()>& clearViewState) {
    ui::UiHost& host = ui::UiHost::current();
    for (;;) {
        ui::AlertContent first;
        first.style = ui::AlertStyle::warning;
        first.messageText = localized("Reset all settings? (1 of 2)");
        first.informativeText = localized(
            "Every preference on every tab \u2014 General, Automations & Triggers (Triggers, "
            "Bluetooth, Network, Battery/Power), Devices, Drives, Advanced \u2014 goes back to "
            "defaults. ALL trigger rules are deleted, including imported ones, along with drive "
            "keep-alive configuration and the activity log.");
        first.buttons = {localized("Continue"), localized("Export Settings First\u2026"),
                         localized("Cancel")};
        const int answer = host.makeAlert(std::move(first))->runModal();
        if (answer == ui::kAlertSecondButtonReturn) {
            SettingsTransfer::runExportPanel(owners.transfer);
            continue;
        }
        if (answer != ui::kAlertFirstButtonReturn) {
            return;
        }
        break;
    }
    ui::AlertContent second;
    second.style = ui::AlertStyle::critical;
    second.messageText = localized("Really reset everything? (2 of 2)");
    second.informativeText = localized(
        "This cannot be undone. Launch at login is system-side and survives. The first-run "
        "explanation will appear again. The app keeps running.");
    second.checkbox = std::make_pair(
        localized("Also clear Orvel's permission grants (removes its udev rule for input device "
                  "access and control)"),
        false);
    second.buttons = {localized("Reset Everything"), localized("Cancel")};
    auto alert = host.makeAlert(std::move(second));
    if (alert->runModal() != ui::kAlertFirstButtonReturn) {
        return;
    }
    owners.reset().perform(alert->checkboxState(), clearViewState);
}

ui::View ResetSection(ResetOwners owners, std::function<void()> clearViewState) {
    using namespace ui;
    return VStack(
        HAlign::leading, 8,
        {Text("RESET")
             .font(Font::system(10, FontWeight::semibold))
             .foregroundStyle(Hierarchy::tertiary),
         Button(
             "Reset All Settings\u2026",
             [owners = std::move(owners), clearViewState = std::move(clearViewState)] {
                 resetAllSettings(owners, clearViewState);
             },
             ButtonRole::destructive),
         Text("Returns every setting on every tab to defaults and deletes all trigger rules "
              "\u2014 imported ones included \u2014 plus drive keep-alive configuration and the "
              "activity log. Asks twice and offers an export first.")
             .font(Font::style(TextStyle::caption))
             .foregroundStyle(Hierarchy::secondary)
             .fixedSize(false, true)});
}

}  // namespace orvel
