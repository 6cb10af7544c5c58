#pragma once

#include <optional>
#include <string>

#include "core/DurationPreset.h"
#include "core/SleepOptions.h"
#include "ui/ViewComponent.h"

namespace orvel {

class OrvelController;
class Preferences;
class DeviceState;
class InputBlocker;
class BuiltInDisplay;
class TriggerEngine;
class PowerTriggerCenter;
class SystemA11y;
class UserDefaults;
class Processes;

// The panel shown from the tray item, Orvel's main control surface: the session's header and
// switch, the power notice, the durations, the trigger pause, the five sleep switches, the
// built-in devices, the equivalent command line and the footer. It keeps no state: everything
// is read from the services at each evaluation and every change is a call on them. Sizes are a
// base size times scale(). Main thread only.
class MenuView final : public ui::ViewComponent {
  public:
    // What the panel shows and changes.
    struct Services {
        OrvelController& controller;
        Preferences& prefs;
        DeviceState& devices;
        InputBlocker& inputBlocker;
        BuiltInDisplay& display;
        TriggerEngine& triggers;
        PowerTriggerCenter& power;
        SystemA11y& a11y;
        UserDefaults& defaults;
        Processes& processes;
    };

    explicit MenuView(const Services& services);

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

    // The user's panel scale times the desktop's text factor, within 0.5 to 2.0.
    double scale() const;
    // The panel's width at a scale: never wider than 480 points.
    static double width(double scale);
    // How tall the panel may grow before it scrolls.
    static double maxHeight();

    // A switch's two lines: the title, and the caption under it.
    ui::View switchLabel(const std::string& title, const std::string& caption) const;
    // A device switch's title, with a lock that follows the cached input permissions when the
    // switch needs them.
    ui::View gatedRowLabel(const std::string& title, bool gated,
                           std::optional<std::string> help) const;
    // One sleep switch bound to the session's options: each flip publishes the whole options
    // once.
    ui::Binding<bool> optionBinding(bool SleepOptions::*field) const;
    // Opens Settings on the Automations & Triggers page at a sub-tab.
    void openSettingsTab(std::int64_t subTab) const;
    // Seconds from now to 08:00 tomorrow, local time; at least a minute.
    static double secondsUntilTomorrowMorning();
    // The command line's colour: bright green in the dark appearance, dark green in the light.
    static ui::Color commandTextColor();
    // The caffeinate option a duration stands for.
    std::string durationFlag(DurationPreset preset) const;

  private:
    ui::View header(double s);
    ui::View noticeRow(double s);
    ui::View sectionHeader(const std::string& title, double s);
    ui::View durationRow(DurationPreset preset, double s);
    ui::View makeRuleRow(const std::string& appName, double s);
    ui::View triggersSection(double s);
    ui::View sleepRow(const std::string& label, const std::string& caption, const std::string& flag,
                      bool SleepOptions::*field, bool enabled, double s);
    ui::View builtInDevicesSection(double s);
    ui::View deviceSwitchRow(const std::string& label, const std::string& caption,
                             ui::Binding<bool> binding, bool gated, double s);
    ui::View commandBlock(double s);
    ui::View footer(double s);

    OrvelController& c_;
    Preferences& prefs_;
    DeviceState& dev_;
    InputBlocker& blocker_;
    BuiltInDisplay& display_;
    TriggerEngine& triggers_;
    PowerTriggerCenter& power_;
    SystemA11y& a11y_;
    UserDefaults& defaults_;
    Processes& processes_;
    Subscription countdown_;  // while the header is shown
};

}  // namespace orvel
