#include "menubar/AlertAsker.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "devices/UserAsker.h"
#include "foundation/Localization.h"
#include "foundation/RunLoop.h"
#include "ui/Host.h"

namespace orvel {

namespace {

constexpr const char* kPermissionsExplanation =
    "Disabling the built-in keyboard or trackpad is the only part of Orvel that needs permission. "
    "macOS is about to ask twice.\n\nInput Monitoring lets Orvel tell which physical device an "
    "event came from, so it can silence the built-in keyboard without touching your external "
    "one.\n\nAccessibility lets it discard those events. Observing alone is not enough.\n\nOrvel "
    "never reads what you type. It looks at which device reported, and at nothing else. Nothing "
    "is stored, logged or sent anywhere, and quitting Orvel always restores normal input.\n\nYou "
    "will see two system dialogs, one after the other.";

std::string cancelTitle(std::int64_t secondsLeft) {
    return localizedFormat("Cancel (%llds)", {std::max<std::int64_t>(secondsLeft, 0)});
}

class AlertAsker final : public UserAsker {
  public:
    bool canAsk() const override { return ui::UiHost::isInstalled(); }

    bool keepInputDisabled(std::int64_t secondsLeft) override {
        ui::AlertContent content;
        content.style = ui::AlertStyle::warning;
        content.messageText = localized("Keep the built-in input disabled?");
        content.informativeText = localized(
            "Your external keyboard and mouse still work. If you can't answer this, Orvel will "
            "hand the built-in keyboard and trackpad back automatically.");
        content.buttons = {localized("Keep disabled"), cancelTitle(secondsLeft)};
        ui::UiHost& host = ui::UiHost::current();
        std::shared_ptr<ui::Alert> alert = host.makeAlert(std::move(content));
        // Common mode: the countdown must go on while the alert's modal loop runs.
        Timer countdown = RunLoop::main().every(
            1.0,
            [&secondsLeft, &countdown, alert = alert.get()] {
                --secondsLeft;
                alert->setButtonTitle(1, cancelTitle(secondsLeft));
                if (secondsLeft <= 0) {
                    countdown.cancel();
                    alert->stopModal(ui::kModalResponseAbort);
                }
            },
            TimerMode::Common);
        host.application().activate(true);
        const int response = alert->runModal();
        countdown.cancel();
        return response == ui::kAlertFirstButtonReturn;
    }

    void tellInputHandedBack() override {
        ui::AlertContent content;
        content.style = ui::AlertStyle::informational;
        content.messageText = "Built-in keyboard and trackpad re-enabled";
        content.informativeText =
            "Your external keyboard or mouse disconnected, so Orvel handed the built-in input "
            "back.";
        content.buttons = {"OK"};
        ui::UiHost& host = ui::UiHost::current();
        host.application().activate(true);
        host.makeAlert(std::move(content))->runModal();
    }

    bool openInputMonitoringSettings() override {
        ui::AlertContent content;
        content.messageText = localized("Turn on Input Monitoring for Orvel in System Settings");
        content.informativeText = localized(
            "macOS has already recorded a decision for Orvel, so it will not show the Input "
            "Monitoring prompt again. In System Settings \u203a Privacy & Security \u203a Input "
            "Monitoring, switch Orvel ON. To make macOS ask fresh instead, run:  tccutil reset "
            "ListenEvent <bundle id>  and relaunch Orvel.");
        content.buttons = {localized("Open System Settings"), localized("Cancel")};
        return ui::UiHost::current().makeAlert(std::move(content))->runModal() ==
               ui::kAlertFirstButtonReturn;
    }

    bool explainPermissions() override {
        auto& host = ui::UiHost::current();
        host.application().activate(true);
        ui::AlertContent content;
        content.style = ui::AlertStyle::informational;
        content.floating = true;
        content.messageText = "Orvel needs two permissions for this";
        content.informativeText = kPermissionsExplanation;
        content.buttons = {"Continue", "Not Now"};
        return host.makeAlert(std::move(content))->runModal() == ui::kAlertFirstButtonReturn;
    }
};

}  // namespace

void installAlertAsker() {
    UserAsker::install(std::make_unique<AlertAsker>());
}

}  // namespace orvel
