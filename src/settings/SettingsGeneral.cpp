// The General page of the Settings window.

#include <cmath>

#include "core/DurationPreset.h"
#include "core/HotKeyStyle.h"
#include "core/Preferences.h"
#include "foundation/DateFormatting.h"
#include "foundation/Localization.h"
#include "foundation/RunLoop.h"
#include "menubar/AppWindows.h"
#include "menubar/StatusItemController.h"
#include "platform/HotKeys.h"
#include "platform/LoginItems.h"
#include "platform/Permissions.h"
#include "reports/ConflictNotes.h"
#include "settings/SettingsView.h"
#include "settings/UpdateCheckSection.h"
#include "ui/SettingsStyle.h"

namespace orvel {

using namespace ui;
using settings_style::caption;

namespace {

constexpr double kScaleStep = 0.05;
constexpr double kScaleMin = 0.5;
constexpr double kScaleMax = 2.0;

void withWindows(const std::function<void(AppWindows&)>& operation) {
    if (AppWindows* windows = AppWindows::current()) {
        operation(*windows);
    }
}

template <class E>
std::vector<View> optionsOf() {
    std::vector<View> options;
    for (E value : allCases<E>()) {
        options.push_back(
            SettingsView::pickerLabel<E>(value, [](E option) { return label(option); }));
    }
    return options;
}

// A picker's selection over a stored set: a raw text that names no case changes nothing.
template <class E>
Binding<std::string> rawBinding(Preferences::Setting<E>& setting,
                                std::function<void()> after = nullptr) {
    return Binding<std::string>{[&setting] { return std::string(rawValue(setting())); },
                                [&setting, after](const std::string& raw) {
                                    if (auto value = fromRaw<E>(raw)) {
                                        setting = *value;
                                        if (after) {
                                            after();
                                        }
                                    }
                                }};
}

Binding<bool> boolBinding(Preferences::Setting<bool>& setting,
                          std::function<void()> after = nullptr) {
    return Binding<bool>{[&setting] { return setting(); },
                         [&setting, after](const bool& on) {
                             setting = on;
                             if (after) {
                                 after();
                             }
                         }};
}

bool monitorPermissionsGranted(Permissions& permissions) {
    return permissions.isAccessibilityTrusted() && permissions.preflightListenEvent();
}

// What the desktop made of the shortcut: the keys it bound, or why there is none. The desktop
// answers after the style is picked, so the note follows it.
class ShortcutStatusNote final : public ViewComponent {
  public:
    ShortcutStatusNote(HotKeys& hotKeys, Preferences& prefs)
        : hotKeys_(hotKeys),
          prefs_(prefs),
          changed_(hotKeys.changed.subscribe([this] { answers = answers() + 1; })) {}

    View body() override {
        if (prefs_.hotKeyStyle() == HotKeyStyle::off) {
            return EmptyView();
        }
        if (auto reason = hotKeys_.unavailableReason()) {
            return settings_style::warning(*reason, true);
        }
        if (auto trigger = hotKeys_.boundTrigger()) {
            return caption(
                localizedFormat(
                    "The desktop runs the shortcut on %@; its keyboard settings can change it.",
                    {*trigger}),
                true);
        }
        return EmptyView();
    }
    std::vector<ObservableObject*> observedObjects() override { return {&prefs_}; }

    Published<int> answers{*this, 0};

  private:
    HotKeys& hotKeys_;
    Preferences& prefs_;
    Subscription changed_;
};

}  // namespace

std::string SettingsView::customLengthText(std::int64_t seconds) {
    if (seconds <= 0) {
        return localized("Not set");
    }
    const std::int64_t hours = seconds / 3600;
    const std::int64_t minutes = (seconds % 3600) / 60;
    if (seconds < 3600) {
        return localizedFormat("%lld min", {minutes});
    }
    if (seconds % 3600 < 60) {
        return localizedFormat("%lld h", {hours});
    }
    return localizedFormat("%lld h %lld min", {hours, minutes});
}

double SettingsView::steppedMenuScale(double scale, bool up) {
    const double moved = std::round((scale + (up ? kScaleStep : -kScaleStep)) * 100) / 100;
    return up ? std::min(kScaleMax, moved) : std::max(kScaleMin, moved);
}

std::string SettingsView::menuScaleText(double scale) {
    return percentText(scale);
}

void SettingsView::loginItemChanged(bool enabled) {
    withWindows([enabled](AppWindows& windows) { windows.setLaunchAtLogin(enabled); });
    // A refused change must not look done: show the login item's real state next turn.
    RunLoop::main().async([weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->objectWillChange.send();
        }
    });
}

View SettingsView::generalPage() {
    Preferences& p = prefs_;
    Binding<bool> launchAtLogin{
        [&items = loginItems_] { return items.status() == login_item_status::kEnabled; },
        [this](const bool& on) { loginItemChanged(on); }};
    View startup = Section(
        std::nullopt,
        {
            Toggle("Launch Orvel at login", launchAtLogin),
            Toggle("Restore the previous session after a restart", boolBinding(p.restoreSession)),
            caption("Flags, duration and on/off state come back exactly as they were. A session "
                    "that had a timer running comes back on with its full duration again \u2014 "
                    "the countdown starts over."),
        });

    Binding<bool> inDock = boolBinding(p.showInDock, [] {
        withWindows([](AppWindows& windows) { windows.applyActivationPolicy(); });
    });
    Binding<bool> showTimer = boolBinding(p.showTimer, [] {
        if (auto* item = StatusItemController::current()) {
            item->refresh();
        }
    });
    View appearance = Section(
        std::nullopt,
        {
            Picker("Appears as:", boolTagBinding(inDock),
                   {Text("Tray only").tag("false"), Text("Tray + task bar").tag("true")})
                .pickerStyle(PickerStyle::segmented),
            Toggle("Show remaining time next to the icon", showTimer),
            Picker("Default duration:", rawBinding(p.defaultPreset), optionsOf<DurationPreset>())
                .pickerStyle(PickerStyle::menu),
            If(p.defaultPreset() == DurationPreset::custom,
               [&] {
                   return HStack(
                       VAlign::center, std::nullopt,
                       {LabeledContent("Custom length",
                                       TextVerbatim(customLengthText(p.customSeconds()))),
                        Button("Change\u2026", [] {
                            withWindows([](AppWindows& windows) { windows.showCustomDuration(); });
                        })});
               }),
        });

    const double scale = p.menuScale();
    const std::string percent = menuScaleText(scale);
    View sizeRow = HStack(
        VAlign::center, 10,
        {
            Text("Menu text size"),
            Button(TextVerbatim("\u2212"),
                   [&p] { p.menuScale = steppedMenuScale(p.menuScale(), false); })
                .accessibilityLabel("Decrease menu text size")
                .disabled(scale <= 0.501),
            TextVerbatim(percent)
                .font(Font::style(TextStyle::body).withMonospacedDigits())
                .frame(46)
                .accessibilityLabel("Menu text size")
                .accessibilityValueVerbatim(percent),
            Button(TextVerbatim("+"), [&p] { p.menuScale = steppedMenuScale(p.menuScale(), true); })
                .accessibilityLabel("Increase menu text size")
                .disabled(scale >= 1.999),
        });
    View menuLook = Section(
        std::nullopt,
        {
            sizeRow,
            Toggle("Bold menu text", boolBinding(p.menuBold)),
            Toggle("Fully opaque menu background", boolBinding(p.menuOpaque)),
            Picker("Tray icon clicks:", boolTagBinding(boolBinding(p.swapMenuButtons)),
                   {Text("Left toggles \u00b7 right opens menu").tag("false"),
                    Text("Right toggles \u00b7 left opens menu").tag("true")})
                .pickerStyle(PickerStyle::menu)
                .frame(Frame().withMaxWidth(400)),
            caption("Applies to the tray panel. Standard size is 100%; the range is 50\u2013200% "
                    "and the menu resizes to match. Opaque draws the panel in your theme's window "
                    "color instead of a slightly see-through one."),
        });

    // Picking the style already chosen is no change and registers nothing.
    Binding<std::string> hotKeyStyle{
        [&p] { return std::string(rawValue(p.hotKeyStyle())); },
        [&p](const std::string& raw) {
            auto style = fromRaw<HotKeyStyle>(raw);
            if (!style || *style == p.hotKeyStyle()) {
                return;
            }
            p.hotKeyStyle = *style;
            withWindows([](AppWindows& windows) { windows.applyHotKeyStyle(); });
        }};
    const HotKeyStyle style = p.hotKeyStyle();
    View shortcut = Section(
        std::nullopt,
        {
            Picker("Global shortcut:", hotKeyStyle, optionsOf<HotKeyStyle>())
                .pickerStyle(PickerStyle::menu),
            Embed(std::make_shared<HotkeyKeyboardConflictNote>(p, false)),
            Embed(std::make_shared<ShortcutStatusNote>(hotKeys_, p)),
            If(style == HotKeyStyle::off,
               [] {
                   return caption(
                       "No global shortcut is registered. Orvel asks for no permissions at "
                       "launch; turning a shortcut on grabs the key system-wide (an X11 key "
                       "grab, or on Wayland the desktop's shortcut portal, which may ask you "
                       "to confirm the keys).");
               }),
            If(style == HotKeyStyle::monitor && !monitorPermissionsGranted(permissions_),
               [] {
                   return settings_style::warning(
                       "Orvel needs input device access and control for this option: Orvel's udev "
                       "rule or membership of the input group. See Input device access in Help.");
               }),
        });

    return Form({
        startup,
        appearance,
        menuLook,
        shortcut,
        Section(std::nullopt, {Embed(updates_)}),
        Section(std::nullopt, {Embed(agreement_)}),
    });
}

}  // namespace orvel
