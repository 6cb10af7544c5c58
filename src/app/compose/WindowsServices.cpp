#include "app/compose/WindowsServices.h"

#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/BuiltInDisplay.h"
#include "devices/DeviceState.h"
#include "devices/InputBlocker.h"
#include "devices/KeyboardBacklight.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Localization.h"
#include "help/EULAGate.h"
#include "platform/Platform.h"
#include "platform/SystemInfo.h"
#include "reports/ConflictsReport.h"
#include "reports/DiagnosticReport.h"
#include "reports/PermissionAudit.h"
#include "reports/ReportRedaction.h"
#include "reports/SelfTest.h"
#include "settings/UpdateSchedule.h"
#include "triggers/BluetoothTriggerSource.h"
#include "triggers/NetworkTriggerSource.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "triggers/WakeHelperClient.h"

namespace orvel {
namespace {

// The self-test and the report built with the HID-access flag raised and the permission status
// fresh, the audit's sections, the redaction of the gathered names and the machine's facts. The
// builders are reached only when a button is pressed.
DiagnosticsSources diagnosticsSources(SystemInfo& info) {
    DiagnosticsSources sources;
    // Not SelfTest::forSupport: it appends the audit and a conflicts section of its own, and
    // the page joins the pieces itself with the settings' conflicts report.
    sources.selfTest = []() -> std::optional<std::string> {
        InputBlocker& blocker = InputBlocker::shared();
        blocker.permissionStatus();
        InputBlocker::HidAccessScope access(blocker);
        return SelfTest::shared().selfTest();
    };
    sources.auditSections = [] { return PermissionAudit::shared().reportSections(); };
    sources.report = [] { return DiagnosticReport::shared().forSupport(false, false); };
    sources.redact = [](const std::string& text) {
        return ReportRedaction::shared().obfuscate(text);
    };
    sources.machine = [&info] { return info.architecture(); };
    sources.osVersion = [&info] {
        return info.osName() + " \u00B7 " + localizedFormat("kernel %@", {info.kernelRelease()});
    };
    sources.conflicts = [] { return ConflictsReport::shared().text(); };
    return sources;
}

}  // namespace

// Braced lists build their members in order: the services come up as the views asked for them.
AutomationServices automationServices() {
    Platform& platform = Platform::current();
    return AutomationServices{Preferences::shared(),
                              TriggerEngine::shared(),
                              ActivityLog::shared(),
                              OrvelController::shared(),
                              PowerTriggerCenter::shared(),
                              WakeHelperClient::shared(),
                              BluetoothTriggerSource::shared(),
                              NetworkTriggerSource::shared(),
                              platform.userDefaults(),
                              platform.bluetooth(),
                              platform.network(),
                              platform.workspace(),
                              platform.powerSources(),
                              PermissionAudit::shared()};
}

SettingsTransfer::Owners settingsTransferOwners() {
    return SettingsTransfer::Owners{[]() -> TriggerEngine& { return TriggerEngine::shared(); },
                                    []() -> DriveKeepAlive& { return DriveKeepAlive::shared(); },
                                    []() -> Preferences& { return Preferences::shared(); },
                                    []() -> Bluetooth& { return Platform::current().bluetooth(); }};
}

ResetOwners resetOwners() {
    return ResetOwners{settingsTransferOwners(),
                       []() -> SettingsReset& { return SettingsReset::shared(); }};
}

// Built in the order the window used to reach them, the first page's first.
SettingsServices settingsServices() {
    Platform& platform = Platform::current();
    OrvelController& controller = OrvelController::shared();
    Preferences& prefs = Preferences::shared();
    PowerTriggerCenter& power = PowerTriggerCenter::shared();
    DeviceState& devices = DeviceState::shared();
    DriveKeepAlive& drives = DriveKeepAlive::shared();
    return SettingsServices{controller,
                            prefs,
                            power,
                            devices,
                            drives,
                            KeyboardBacklight::shared(),
                            InputBlocker::shared(),
                            BuiltInDisplay::shared(),
                            platform.userDefaults(),
                            platform.permissions(),
                            platform.hotKeys(),
                            platform.loginItems(),
                            platform.processes(),
                            automationServices(),
                            LicenseAgreement::shared(),
                            diagnosticsSources(platform.systemInfo()),
                            resetOwners(),
                            [] { UpdaterBridge::shared(); }};
}

}  // namespace orvel
