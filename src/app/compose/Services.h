#pragma once

#include "automations/AutomationsAndTriggersView.h"
#include "foundation/Registry.h"
#include "menubar/MenuView.h"
#include "menubar/StatusItemController.h"
#include "settings/SettingsReset.h"
#include "settings/SettingsTransfer.h"
#include "settings/SettingsView.h"

namespace orvel {

class ActivityLog;
class AppTriggerSource;
class BluetoothTriggerSource;
class BuiltInDisplay;
class ConflictsReport;
class DeviceState;
class DiagnosticReport;
class DriveKeepAlive;
class HelpPages;
class InputBlocker;
class KeyboardBacklight;
class LicenseAgreement;
class NetworkTriggerSource;
class OrvelController;
class PermissionAudit;
class PermissionPrimer;
class Platform;
class PowerTriggerCenter;
class Preferences;
class ReportRedaction;
class ScheduleTriggerSource;
class ScreenSaverBlock;
class SelfTest;
class SettingsReset;
class SystemA11y;
class TriggerEngine;
class UpdaterBridge;
class WakeHelperClient;

// The composition root: the graph of services on one platform. Each service is built on first use
// from the platform's capabilities and its neighbours, which the graph hands it by reference after
// building them first. The graph owns what it builds and destroys it newest first, so a service
// outlives every service built after it. A neighbour that would close a cycle or start work early
// is handed as an accessor into the graph instead (docs/architecture.md names each one and why).
// Main thread only; the platform outlives the graph.
class Services {
  public:
    explicit Services(Platform& platform) : platform_(&platform) {}
    ~Services();
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    Platform& platform() const { return *platform_; }

    // The service T if it has been built, else null; builds nothing.
    template <class T>
    T* existing() const {
        return built_.existing<T>();
    }

    // Destroys every service built, newest first, as the graph's end does; the next use builds
    // anew.
    void release() { built_.reset(); }

    // Log entries added from any thread (ActivityLog::add) go to this graph's log from now on;
    // when the graph goes, they go where they went before.
    void receiveActivityEntries();

    // The session core.
    Preferences& preferences();
    ActivityLog& activityLog();
    OrvelController& controller();
    // The devices the session quiets and the drives it keeps spinning.
    ScreenSaverBlock& screenSaverBlock();
    BuiltInDisplay& builtInDisplay();
    KeyboardBacklight& keyboardBacklight();
    InputBlocker& inputBlocker();
    PermissionPrimer& permissionPrimer();
    DeviceState& deviceState();
    DriveKeepAlive& driveKeepAlive();
    // The trigger sources, the rules engine and the power centre.
    WakeHelperClient& wakeHelper();
    NetworkTriggerSource& networkSource();
    AppTriggerSource& appSource();
    BluetoothTriggerSource& bluetoothSource();
    ScheduleTriggerSource& scheduleSource();
    TriggerEngine& triggerEngine();
    PowerTriggerCenter& powerCenter();
    // The menu bar's own service.
    SystemA11y& systemA11y();
    // The report builders, which read every service, the agreement and the help pages.
    ReportRedaction& reportRedaction();
    DiagnosticReport& diagnosticReport();
    PermissionAudit& permissionAudit();
    SelfTest& selfTest();
    ConflictsReport& conflictsReport();
    LicenseAgreement& licenseAgreement();
    HelpPages& helpPages();
    SettingsReset& settingsReset();
    // Made when "Check for Updates…" is first asked.
    UpdaterBridge& updaterBridge();

    // What the windows are handed. Braced lists build their members in order: the services come
    // up as the views ask for them.
    StatusItemController::Services statusItemServices();
    MenuView::Services menuViewServices();
    AutomationServices automationServices();
    SettingsServices settingsServices();
    // Lazy: a cancelled export or import panel must build no service.
    SettingsTransfer::Owners settingsTransferOwners();
    // Lazy as well: the reset is built only once both alerts are confirmed.
    ResetOwners resetOwners();

  private:
    template <class T>
    T& build(const std::function<std::unique_ptr<T>()>& make) {
        return built_.instance<T>(make);
    }
    // An accessor for a neighbour reached on first use rather than built now, seen as `As`.
    template <class As, auto get>
    std::function<As&()> later() {
        return [this]() -> As& { return (this->*get)(); };
    }
    DiagnosticsSources diagnosticsSources();

    Platform* platform_;
    InstanceStore built_;
    bool receivesEntries_ = false;
    std::function<ActivityLog&()> previousReceiver_;
};

}  // namespace orvel
