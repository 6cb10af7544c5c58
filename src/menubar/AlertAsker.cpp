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

constexpr const char* kPermissionsExplanation = textKey(
    "Disabling the built-in keyboard or trackpad is the only part of Orvel that needs permission. "
    "It needs two things.\n\nInput device access lets Orvel tell which physical device an event "
    "came from, so it can silence the built-in keyboard without touching your external "
    "one.\n\nInput device control lets it switch those devices off. Observing alone is not "
    "enough.\n\nOrvel never reads what you type. It looks at which device reported, and at "
    "nothing else. Nothing is stored, logged or sent anywhere, and quitting Orvel always restores "
    "normal input.\n\nOrvel's udev rule grants both; installing it asks for an administrator's "
    "password. Membership of the input group grants them too.");

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
        content.messageText = localized("Built-in keyboard and trackpad re-enabled");
        content.informativeText = localized(
            "Your external keyboard or mouse disconnected, so Orvel handed the built-in "
            "input back.");
        content.buttons = {localized("OK")};
        ui::UiHost& host = ui::UiHost::current();
        host.application().activate(true);
        host.makeAlert(std::move(content))->runModal();
    }

    bool openInputMonitoringSettings() override {
        ui::AlertContent content;
        content.messageText = localized("Give Orvel input device access");
        content.informativeText = localized(
            "Orvel has already asked once, so it will not ask again by itself. Orvel's udev rule "
            "grants access to the built-in keyboard's and touch pad's event devices, and so does "
            "membership of the input group; the guide shows how to give either.");
        content.buttons = {localized("Show How"), localized("Cancel")};
        return ui::UiHost::current().makeAlert(std::move(content))->runModal() ==
               ui::kAlertFirstButtonReturn;
    }

    bool explainPermissions() override {
        auto& host = ui::UiHost::current();
        host.application().activate(true);
        ui::AlertContent content;
        content.style = ui::AlertStyle::informational;
        content.floating = true;
        content.messageText = localized("Orvel needs two permissions for this");
        content.informativeText = localized(kPermissionsExplanation);
        content.buttons = {localized("Continue"), localized("Not Now")};
        return host.makeAlert(std::move(content))->runModal() == ui::kAlertFirstButtonReturn;
    }
};

}  // namespace

void installAlertAsker() {
    UserAsker::install(std::make_unique<AlertAsker>());
}

}  // namespace orvel
