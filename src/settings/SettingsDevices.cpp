// The Devices page of the Settings window.

#include <algorithm>

#include "core/Preferences.h"
#include "devices/BuiltInDisplay.h"
#include "devices/DeviceState.h"
#include "devices/InputBlocker.h"
#include "devices/KeyboardBacklight.h"
#include "foundation/Localization.h"
#include "foundation/TextCompare.h"
#include "reports/ConflictNotes.h"
#include "settings/SettingsView.h"
#include "triggers/PowerTriggerCenter.h"
#include "ui/SettingsStyle.h"

namespace orvel {

using namespace ui;
using settings_style::caption;
using settings_style::warning;

namespace {

constexpr const char* kNoBuiltInInput =
    textKey("Disabled \u2014 no built-in keyboard or trackpad on this computer");

Binding<bool> settingBinding(Preferences::Setting<bool>& setting) {
    return Binding<bool>{[&setting] { return setting(); },
                         [&setting](const bool& on) { setting = on; }};
}

View sectionHeader(const std::string& title, bool laptop) {
    return VStack(HAlign::leading, 2, {Text(title), If(!laptop, [] {
                                           return Text(kNoBuiltInInput)
                                               .font(Font::style(TextStyle::caption))
                                               .foregroundStyle(Hierarchy::secondary);
                                       })});
}

}  // namespace

bool SettingsView::canDarkenDisplay() const {
    return !power_.internalBatteryDescriptions().empty() || display_.builtInDisplayID().has_value();
}

void SettingsView::refreshPermissions() {
    const std::uint16_t status = inputBlocker_.permissionStatus();
    if (lastPermissions_ == status) {
        return;
    }
    lastPermissions_ = status;
    inputMonitoringGranted = (status & InputBlocker::kInputMonitoringBit) != 0;
    accessibilityGranted = (status & InputBlocker::kAccessibilityBit) != 0;
}

void SettingsView::scanDevices() {
    std::vector<HidDevice> devices;
    {
        InputBlocker::HidAccessScope access(inputBlocker_);
        devices = inputBlocker_.currentHIDDevices();
    }
    auto lines = DeviceState::inputDeviceLines(DeviceState::filterInputDevices(devices));
    // As the report orders them: built-in ones first, then by name.
    std::sort(lines.begin(), lines.end(), composedLess);
    scannedDevices = std::move(lines);
}

void SettingsView::checkBacklight() {
    (void)backlight_.diagnostics();
    backlightChecked = !backlightChecked();
}

View SettingsView::permissionRow(const std::string& name, bool granted,
                                 const std::function<void()>& enable) {
    const bool laptop = dev_.isLaptop();
    View status = !laptop ? Text("Disabled \u2014 no built-in keyboard/trackpad on this computer")
                                .foregroundStyle(Hierarchy::secondary)
                  : granted ? Text("Granted").foregroundStyle(Hierarchy::secondary)
                            : Text("Not granted").foregroundStyle(Color::orange());
    View button = !laptop    ? Button("Enable", [] {}).controlSize(ControlSize::small).disabled()
                  : !granted ? Button("Enable", enable).controlSize(ControlSize::small)
                             : EmptyView();
    return HStack(VAlign::center, 10,
                  {Text(name).foregroundStyle(laptop ? Hierarchy::primary : Hierarchy::secondary),
                   Spacer(), status, button})
        .font(Font::style(TextStyle::caption));
}

View SettingsView::backlightRow(bool laptop) {
    KeyboardBacklight& backlight = backlight_;
    if (backlight.isAvailable() == KeyboardBacklight::Availability::Unknown) {
        return HStack(VAlign::center, std::nullopt,
                      {Text("Backlight").font(Font::style(TextStyle::caption)), Spacer(),
                       caption("Not checked"),
                       Button("Check", [this] { checkBacklight(); })
                           .controlSize(ControlSize::small)
                           .disabled(!laptop)});
    }
    return LabeledContent("Backlight", TextVerbatim(backlight.diagnostics()))
        .font(Font::style(TextStyle::caption));
}

View SettingsView::builtInInputSection(bool laptop) {
    const auto cached = inputBlocker_.cachedPermissions();
    const bool inputMonitoring = cached && cached->inputMonitoring;
    const bool accessibility = cached && cached->accessibility;
    const auto& backlightFailure = backlight_.lastFailure();
    const auto& blockFailure = inputBlocker_.lastFailure;
    return Section(
        sectionHeader("Built-in input", laptop),
        {
            Toggle("Disable the built-in keyboard", settingBinding(prefs_.blockBuiltInKeyboard))
                .disabled(!laptop),
            Embed(std::make_shared<HotkeyKeyboardConflictNote>(prefs_, true)),
            Toggle("Disable the built-in trackpad", settingBinding(prefs_.blockBuiltInTrackpad))
                .disabled(!laptop),
            caption("Bluetooth and USB keyboards, mice and trackpads are never affected. Orvel "
                    "suppresses events only while the built-in hardware is the thing that "
                    "reported them. On computers without a built-in keyboard or trackpad \u2014 "
                    "desktop computers \u2014 there is nothing to block, so these switches and "
                    "the backlight are disabled."),
            Divider(),
            Toggle("Turn off the keyboard backlight", settingBinding(prefs_.keyboardBacklightOff))
                .disabled(!laptop),
            caption("Saves the current level and puts it back when Orvel stops or quits."),
            backlightRow(laptop),
            If(backlightFailure.has_value(), [&] { return warning(*backlightFailure); }),
            Divider(),
            permissionRow("Input device access", inputMonitoring,
                          [this] { inputBlocker_.requestInputMonitoring(); }),
            permissionRow("Input device control", accessibility,
                          [this] { inputBlocker_.requestAccessibility(); }),
            If(cached && (!inputMonitoring || !accessibility),
               [] {
                   return warning(
                       "Both are required. Enable installs Orvel's udev rule (an administrator's "
                       "password is asked for); membership of the input group also grants "
                       "both. See Input device access in Help.");
               }),
            If(blockFailure.has_value(),
               [&] {
                   return warning(
                       localizedFormat("Last attempt failed \u2014 %@", {localized(*blockFailure)}),
                       true);
               }),
        });
}

View SettingsView::safetySection(bool laptop) {
    const auto& scanned = scannedDevices();
    View devices = EmptyView();
    if (!laptop) {
        devices = caption(
            "These safety nets exist for the built-in input block, which this computer doesn't "
            "have.");
    } else if (!scanned) {
        devices = caption(
            "Scanning lists the event devices under /dev/input and reads their names and "
            "capabilities. No input is read from them.");
    } else if (scanned->empty()) {
        devices = caption("No keyboards or pointing devices found.");
    } else {
        std::vector<View> lines;
        for (const auto& line : *scanned) {
            lines.push_back(TextVerbatim(line)
                                .font(Font::system(10).withMonospaced())
                                .textSelection()
                                .id(line));
        }
        devices = VStack(HAlign::leading, 3, std::move(lines));
    }
    return Section(
        sectionHeader("Safety", laptop),
        {
            Toggle("Release automatically if no external keyboard or mouse is connected",
                   settingBinding(prefs_.autoUnblockNoExternal))
                .disabled(!laptop),
            caption(
                "Two safety nets: this one, and a 30-second confirmation the first time you "
                "ever disable the built-in input \u2014 if you can't answer it, the block "
                "reverts. It comes back on a new computer or after a major system update. A saved "
                "block is restored at login only when an external keyboard is connected."),
            If(laptop,
               [&] {
                   return LabeledContent(
                       "Right now",
                       Text(dev_.hasExternalInput()
                                ? textKey("External input connected")
                                : textKey("No external input \u2014 blocking is held off")));
               }),
            HStack(VAlign::center, std::nullopt,
                   {Text("Attached input devices")
                        .font(Font::style(TextStyle::caption))
                        .foregroundStyle(laptop ? Hierarchy::primary : Hierarchy::secondary),
                    Spacer(),
                    Button(scanned ? "Rescan" : "Scan", [this] { scanDevices(); })
                        .controlSize(ControlSize::small)
                        .disabled(!laptop)}),
            devices,
        });
}

View SettingsView::displaySection() {
    const bool canDarken = canDarkenDisplay();
    const auto cannotSleep = dev_.displaySleepUnavailable();
    const auto& slept = dev_.lastDisplaySleep();
    const auto sleepProblem = slept ? DeviceState::displaySleepProblem(*slept) : std::nullopt;
    return Section(
        Text("Display and screen saver"),
        {
            Toggle("Darken the built-in display", settingBinding(prefs_.builtInDisplayOff))
                .disabled(!canDarken),
            If(!canDarken, [] { return caption("This computer has no built-in display."); }),
            caption("For a laptop on a desk with an external monitor: the internal panel's "
                    "backlight (sysfs) goes to zero while everything else stays awake. The panel "
                    "itself stays on with the lid open \u2014 closing the lid on power with an "
                    "external display is the only clean method."),
            caption("A remote session keeps rendering to the darkened panel, so this also covers "
                    "working headless over a remote desktop."),
            Divider(),
            Toggle("Prevent the screen saver from starting",
                   settingBinding(prefs_.preventScreenSaver)),
            Button("Sleep all displays now", [this] { dev_.sleepDisplaysNow(); })
                .disabled(cannotSleep.has_value()),
            If(cannotSleep.has_value(), [&] { return caption(*cannotSleep); }),
            If(sleepProblem.has_value(),
               [&] {
                   return TextVerbatim(*sleepProblem)
                       .font(Font::style(TextStyle::caption))
                       .foregroundStyle(Color::orange());
               }),
            caption("Different switch: sleeps every display, including external ones. Any key "
                    "press or mouse movement wakes them."),
        });
}

View SettingsView::devicesPage() {
    const bool laptop = dev_.isLaptop();
    return Form({
                    builtInInputSection(laptop),
                    safetySection(laptop),
                    displaySection(),
                    Section(std::nullopt, {Toggle("Turning Orvel off restores all of the above",
                                                  settingBinding(prefs_.tieDevicesToSession))}),
                })
        .onAppear([this] { refreshPermissions(); })
        .onTimer(kPermissionRefreshInterval, [this] { refreshPermissions(); });
}

}  // namespace orvel
