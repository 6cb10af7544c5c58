#include "devices/DeviceState.h"

#include <algorithm>
#include <iterator>

#include "core/Preferences.h"
#include "devices/BuiltInDisplay.h"
#include "devices/InputBlocker.h"
#include "devices/KeyboardBacklight.h"
#include "devices/PermissionPrimer.h"
#include "devices/ScreenSaverBlock.h"
#include "devices/UserAsker.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "platform/AccessibilityDisplay.h"
#include "platform/Displays.h"
#include "platform/Processes.h"
#include "platform/SystemInfo.h"
#include "ui/Host.h"

namespace orvel {

namespace {

const Logger kLog("devices");
// Puts X11's displays to sleep (x11-xserver-utils, which the package only recommends).
constexpr const char* kXset = "/usr/bin/xset";

}  // namespace

DeviceState::DeviceState(Preferences& prefs, InputBlocker& blocker, ScreenSaverBlock& screenSaver,
                         BuiltInDisplay& display, KeyboardBacklight& keyboardBacklight,
                         PermissionPrimer& primer, const Machine& machine,
                         std::function<bool()> sessionActive)
    : prefs_(prefs),
      blocker_(blocker),
      screenSaver_(screenSaver),
      display_(display),
      keyboardBacklight_(keyboardBacklight),
      primer_(primer),
      machine_(machine),
      sessionActive_(std::move(sessionActive)) {
    const auto reconcileNow = [this](const bool&) { reconcile(); };
    for (auto* setting :
         {&prefs_.preventScreenSaver, &prefs_.keyboardBacklightOff, &prefs_.builtInDisplayOff}) {
        settings_.push_back(setting->subscribe(reconcileNow));
    }
    for (auto* blockingSwitch : {&prefs_.blockBuiltInKeyboard, &prefs_.blockBuiltInTrackpad}) {
        settings_.push_back(blockingSwitch->subscribe([this, blockingSwitch](const bool& on) {
            if (on) {
                askForBlocking(*blockingSwitch);
            } else {
                reconcile();
            }
        }));
    }
    // A switch turned on applies only once both permissions are there.
    settings_.push_back(primer_.granted.subscribe([this] { reconcile(); }));
    // Blocking can also end without us (a failed tap, the app quitting).
    blockerStopped_ = blocker_.stopped.subscribe([this] { followBlocking(); });
    if (ui::UiHost::isInstalled()) {
        screensChanged_ = ui::UiHost::current().screensChanged.subscribe([this] {
            // A monitor unplugged a moment ago must not be found in a reading kept from before.
            machine_.displays.refresh();
            objectWillChange.send();
            reconcile();
        });
    }
}

void DeviceState::askForBlocking(Preferences::Setting<bool>& blockingSwitch) {
    std::function<void()> revert = prefs_.beginPermissionRequest(blockingSwitch);
    if (!revert) {
        return;
    }
    // On the next turn: the switch's assignment finishes (and is stored) before anyone is asked.
    RunLoop::main().async(
        [weakSelf = weakRef(*this), weakPrefs = weakRef(prefs_), revert = std::move(revert)] {
            if (DeviceState* self = weakSelf.get()) {
                self->primer_.explainIfNeeded(weakPrefs, revert);
            }
        });
}

std::vector<std::string> DeviceState::externalInputCensus() const {
    std::vector<std::string> names;
    for (const auto& device : blocker_.currentHIDDevices()) {
        if (device.isInputDevice() && !InputBlocker::isInternal(device)) {
            names.push_back(InputBlocker::productName(device));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t DeviceState::countExternalInput() const {
    InputBlocker::HidAccessScope access(blocker_);
    return externalInputCensus().size();
}

void DeviceState::reconcile() {
    if (deferDepth_ > 0) {
        deferred_ = true;
        return;
    }
    ++reconcileCount_;
    reconciled.send();

    bool wanted = !prefs_.tieDevicesToSession();
    if (!wanted) {
        wanted = sessionActive_();
    }
    if (!wanted) {
        blocker_.stop();
        autoReleased = false;
        screenSaver_.set(false);
        display_.setDark(false);
        keyboardBacklight_.setOff(false);
        return;
    }

    if (!prefs_.blockBuiltInKeyboard() && !prefs_.blockBuiltInTrackpad()) {
        blocker_.stop();
        autoReleased = false;
    } else if (prefs_.autoUnblockNoExternal() && countExternalInput() == 0) {
        blocker_.stop();
        autoReleased = true;
    } else if (!confirming_ && !prefs_.hasConfirmedBlocking() && !blocker_.isBlockingKeyboard() &&
               !blocker_.isBlockingTrackpad()) {
        autoReleased = false;
        WeakRef<DeviceState> weakSelf = weakRef(*this);
        confirmKeepDisabled();
        if (weakSelf.get() == nullptr) {
            return;
        }
    } else {
        autoReleased = false;
        blocker_.apply(prefs_.blockBuiltInKeyboard(), prefs_.blockBuiltInTrackpad());
    }

    followBlocking();
    // Read again: the confirmation may have run the loop and the settings may have changed.
    screenSaver_.set(prefs_.preventScreenSaver());
    display_.setDark(prefs_.builtInDisplayOff());
    keyboardBacklight_.setOff(prefs_.keyboardBacklightOff());
}

void DeviceState::confirmKeepDisabled() {
    confirming_ = true;
    blocker_.apply(prefs_.blockBuiltInKeyboard(), prefs_.blockBuiltInTrackpad());
    if (!blocker_.isBlockingKeyboard() && !blocker_.isBlockingTrackpad()) {
        // Nothing was blocked, so there is nothing to confirm; the blocker's failure says why.
        confirming_ = false;
        kLog.notice("Built-in input is not blocked, so blocking is not confirmed: " +
                    blocker_.lastFailure.value_or("no reason given"));
        return;
    }

    // Scheduled before the dialog, it waits out the modal loop and counts as soon as it closes.
    followBlocking();
    bool keep = false;
    if (UserAsker* asker = UserAsker::ready()) {
        keep = asker->keepInputDisabled(machine_.accessibility.screenReaderEnabled()
                                            ? kConfirmSecondsWithScreenReader
                                            : kConfirmSeconds);
    } else {
        kLog.notice("No window can ask to keep the built-in input disabled; handing it back.");
    }
    confirming_ = false;

    if (keep) {
        prefs_.hasConfirmedBlocking = true;
        return;
    }
    blocker_.stop();
    clearBlockSettings();
}

void DeviceState::clearBlockSettings() {
    ++deferDepth_;
    prefs_.blockBuiltInKeyboard = false;
    prefs_.blockBuiltInTrackpad = false;
    --deferDepth_;
    if (deferDepth_ == 0 && deferred_) {
        deferred_ = false;
        reconcile();
    }
}

void DeviceState::followBlocking() {
    if (!blocker_.isBlockingKeyboard() && !blocker_.isBlockingTrackpad()) {
        watchdog_.cancel();
        return;
    }
    if (watchdog_.isValid()) {
        return;
    }
    watchdog_ = RunLoop::main().every(kWatchdogInterval, [weakSelf = weakRef(*this)] {
        if (DeviceState* self = weakSelf.get()) {
            self->watchdogTick();
        }
        if (DeviceState* self = weakSelf.get()) {
            InputBlocker::HidAccessScope access(self->blocker_);
            self->blocker_.refreshExternalDevices();
        }
    });
}

void DeviceState::watchdogTick() {
    if (!blocker_.isBlockingKeyboard() && !blocker_.isBlockingTrackpad()) {
        return;
    }
    const bool present = countExternalInput() > 0;
    if (present == hasExternalInput()) {
        return;
    }
    hasExternalInput = present;
    if (present || !prefs_.autoUnblockNoExternal()) {
        reconcile();
        return;
    }
    if (!blocker_.isBlockingKeyboard() && !blocker_.isBlockingTrackpad()) {
        reconcile();
        return;
    }
    blocker_.stop();
    clearBlockSettings();
    autoReleased = true;
    kLog.notice("No external input device is left; the built-in keyboard and trackpad are back.");
    if (UserAsker* asker = UserAsker::ready()) {
        asker->tellInputHandedBack();
    }
}

bool DeviceState::isLaptop(SystemInfo& info) {
    if (const auto model = info.hardwareModel(); model && model->rfind("MacBook", 0) == 0) {
        return true;
    }
    // Portable, laptop, notebook, sub notebook, convertible, detachable.
    constexpr int kPortableChassis[] = {8, 9, 10, 14, 31, 32};
    const auto chassis = info.chassisType();
    return chassis && std::find(std::begin(kPortableChassis), std::end(kPortableChassis),
                                *chassis) != std::end(kPortableChassis);
}

void DeviceState::sleepDisplaysNow() {
    ++sleepDisplaysCount_;
    lastDisplaySleep = std::nullopt;
    if (auto why = displaySleepUnavailable()) {
        kLog.notice(*why);
        return;
    }
    if (machine_.systemInfo.windowSystem() == SystemInfo::WindowSystem::x11) {
        // A failure to start is logged by the platform; the X server does not answer.
        if (!machine_.processes.launchDetached(LaunchRequest{kXset, {"dpms", "force", "off"}})) {
            lastDisplaySleep = DisplaySleepOutcome{{}, true};
        }
        return;
    }
    const std::uint64_t asked = sleepDisplaysCount_;
    machine_.displays.sleepAll(
        [weakSelf = weakRef(*this), asked](const DisplaySleepOutcome& outcome) {
            // An answer to an earlier request than the last is out of date.
            if (auto* self = weakSelf.get(); self && self->sleepDisplaysCount_ == asked) {
                self->lastDisplaySleep = outcome;
            }
        });
}

std::optional<std::string> DeviceState::displaySleepProblem(const DisplaySleepOutcome& outcome) {
    if (outcome.failed) {
        return localized("The desktop did not put the displays to sleep.");
    }
    if (outcome.stillOn.empty()) {
        return std::nullopt;
    }
    std::string names;
    for (const auto& name : outcome.stillOn) {
        names += (names.empty() ? "" : ", ") + name;
    }
    return localizedPlural("%@ is still on: the desktop did not put it to sleep.",
                           "%@ are still on: the desktop did not put them to sleep.",
                           static_cast<std::int64_t>(outcome.stillOn.size()), {names});
}

std::optional<std::string> DeviceState::displaySleepUnavailable() const {
    switch (machine_.systemInfo.windowSystem()) {
        case SystemInfo::WindowSystem::x11:
            if (machine_.processes.isExecutableFile(kXset)) {
                return std::nullopt;
            }
            return textKey(
                "xset is not installed (package x11-xserver-utils), so the displays cannot be put "
                "to sleep.");
        case SystemInfo::WindowSystem::wayland:
            if (machine_.displays.compositorSleep() != CompositorSleep::none) {
                return std::nullopt;
            }
            return textKey(
                "This Wayland compositor offers no known way to sleep the displays (GNOME, KDE "
                "Plasma, sway and most wlroots compositors do).");
        case SystemInfo::WindowSystem::none:
            break;
    }
    return textKey("No graphical session, so no display to sleep.");
}

std::vector<HidDevice> DeviceState::filterInputDevices(const std::vector<HidDevice>& devices) {
    std::vector<HidDevice> input;
    for (const auto& device : devices) {
        if (device.isInputDevice()) {
            input.push_back(device);
        }
    }
    return input;
}

std::vector<std::string> DeviceState::inputDeviceLines(const std::vector<HidDevice>& devices) {
    std::vector<std::string> lines;
    lines.reserve(devices.size());
    for (const auto& device : devices) {
        lines.push_back(
            (InputBlocker::isInternal(device) ? "INTERNAL \u2014 " : "external \u2014 ") +
            InputBlocker::deviceDescription(device));
    }
    return lines;
}

}  // namespace orvel
