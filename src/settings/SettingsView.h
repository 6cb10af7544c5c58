#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "automations/AutomationsAndTriggersView.h"
#include "foundation/RawEnum.h"
#include "foundation/WeakRef.h"
#include "platform/UserDefaults.h"
#include "settings/SettingsReset.h"
#include "settings/SettingsTransfer.h"
#include "settings/TroubleshootingView.h"
#include "ui/ViewComponent.h"

namespace orvel {

class OrvelController;
class Preferences;
class DeviceState;
class DriveKeepAlive;
class BuiltInDisplay;
class InputBlocker;
class KeyboardBacklight;
class LicenseAgreement;
class LoginItems;
class Permissions;
class HotKeys;
class PowerTriggerCenter;
class Processes;
class UpdateCheckSection;
class AgreementRow;
class DrivesSettingsView;
class TroubleshootingView;

// What the Settings window's pages are built on, handed in by the application.
struct SettingsServices {
    OrvelController& controller;
    Preferences& prefs;
    PowerTriggerCenter& power;
    DeviceState& devices;
    DriveKeepAlive& drives;
    KeyboardBacklight& backlight;
    InputBlocker& inputBlocker;
    BuiltInDisplay& display;
    UserDefaults& defaults;
    Permissions& permissions;
    HotKeys& hotKeys;
    LoginItems& loginItems;
    Processes& processes;
    AutomationServices automations;
    LicenseAgreement& agreement;
    DiagnosticsSources diagnostics;
    ResetOwners reset;
    std::function<void()> checkForUpdates;
};

// The Settings window's content: a tab view of six pages bound to "settingsTabSelection" (read
// at every evaluation, written when the user picks a page), so the window reopens on the page
// used last and other components open it on a page by writing the key. It edits the services
// directly: every control calls a service's setter, nothing waits for an apply step. The view
// state it holds (scan result, backlight check, permission flags, diagnostics) lives as long as
// the view. Main thread only.
class SettingsView final : public ui::ViewComponent, public WeakReferenceable {
  public:
    // The page tags, as stored; no page carries 5.
    static constexpr std::int64_t kGeneralTab = 0;
    static constexpr std::int64_t kAutomationsTab = 1;
    static constexpr std::int64_t kDevicesTab = 2;
    static constexpr std::int64_t kDrivesTab = 3;
    static constexpr std::int64_t kAdvancedTab = 4;
    static constexpr std::int64_t kTroubleshootingTab = 6;
    static constexpr const char* kTabKey = "settingsTabSelection";
    static constexpr const char* kSubTabKey = "atSubTab";
    // The frame the content asks for, in points.
    static constexpr double kMinWidth = 675;
    static constexpr double kIdealWidth = 900;
    static constexpr double kMaxWidth = 900;
    static constexpr double kMinHeight = 280;
    static constexpr double kIdealHeight = 560;
    // How often the Devices page reads the permissions again while it is shown.
    static constexpr double kPermissionRefreshInterval = 2.0;

    explicit SettingsView(const SettingsServices& services);
    ~SettingsView() override;

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

    // The stored page tag, whatever it is.
    std::int64_t selectedTab() const;
    // The page shown: the stored tag when a page carries it, else General.
    std::int64_t shownTab() const;
    // The Automations & Triggers sub-tab: 0 Triggers, 1 Bluetooth, 2 Network, 3 Battery,
    // 4 Schedule, 5 Apps.
    std::int64_t selectedSubTab() const;

    // One option of a picker over a small set: the title as given (not looked up again), tagged
    // with the value's raw text so a selection bound to the set picks it.
    template <class E>
    static ui::View pickerLabel(E value, const std::function<std::string(E)>& title) {
        return ui::TextVerbatim(title(value)).tag(std::string(rawValue(value)));
    }

    // General.
    // "Not set", "45 min", "2 h" or "1 h 30 min" for a custom length in seconds.
    static std::string customLengthText(std::int64_t seconds);
    // The menu scale one step (0.05) down or up, rounded to hundredths, within 0.5 and 2.0.
    static double steppedMenuScale(double scale, bool up);
    // The menu scale as a whole percentage in the current locale.
    static std::string menuScaleText(double scale);

    // Devices.
    ui::View permissionRow(const std::string& name, bool granted,
                           const std::function<void()>& enable);
    void scanDevices();
    void checkBacklight();
    // Whether the display can be darkened: an internal battery, or a built-in display online.
    bool canDarkenDisplay() const;

    // Advanced.
    std::string equivalentCommandText() const;
    // Asks twice, then deletes every rule.
    void deleteAllRules();

    // The Troubleshooting page, which keeps the diagnostic text and the redaction switch for as
    // long as this view lives.
    TroubleshootingView& troubleshooting() { return *troubleshooting_; }

    // View state, in this order.
    Published<bool> backlightChecked{*this, false};
    Published<std::optional<std::vector<std::string>>> scannedDevices{*this, std::nullopt};
    Published<bool> inputMonitoringGranted{*this, false};
    Published<bool> accessibilityGranted{*this, false};
    // What the last export or import came to, shown beside their buttons until the next one.
    Published<std::optional<SettingsTransfer::Outcome>> transferOutcome{*this, std::nullopt};

  private:
    ui::View generalPage();
    ui::View devicesPage();
    ui::View builtInInputSection(bool laptop);
    ui::View safetySection(bool laptop);
    ui::View displaySection();
    ui::View backlightRow(bool laptop);
    ui::View advancedPage();
    ui::View powerSimulationBlock();
    ui::View transferRow();
    // Reads both permissions; redraws only when the answer differs from the last one.
    void refreshPermissions();
    void loginItemChanged(bool enabled);

    OrvelController& c_;
    Preferences& prefs_;
    PowerTriggerCenter& power_;
    DeviceState& dev_;
    TriggerEngine& engine_;
    KeyboardBacklight& backlight_;
    InputBlocker& inputBlocker_;
    BuiltInDisplay& display_;
    UserDefaults& defaults_;
    Permissions& permissions_;
    HotKeys& hotKeys_;
    LoginItems& loginItems_;
    Processes& processes_;
    SettingsTransfer::Owners transfer_;
    // Follows outside writes of the page and sub-tab keys.
    DefaultsKeysObserver storedTabs_;
    std::shared_ptr<AutomationsAndTriggersView> automations_;
    std::shared_ptr<UpdateCheckSection> updates_;
    std::shared_ptr<AgreementRow> agreement_;
    std::shared_ptr<DrivesSettingsView> drives_;
    std::shared_ptr<TroubleshootingView> troubleshooting_;
    std::optional<std::uint16_t> lastPermissions_;
};

}  // namespace orvel
