#include "automations/AutomationsAndTriggersView.h"
#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/DeviceState.h"
#include "devices/InputBlocker.h"
#include "devices/KeyboardBacklight.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Registry.h"
#include "platform/Platform.h"
#include "settings/SettingsTransfer.h"
#include "settings/SettingsView.h"
#include "triggers/BluetoothTriggerSource.h"
#include "triggers/NetworkTriggerSource.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "triggers/WakeHelperClient.h"

namespace orvel {
namespace {

// The services behind the settings, automations and help windows.
[[maybe_unused]] const bool kProvided = [] {
    Registry::provide<AutomationServices>([] {
        Platform& platform = Platform::current();
        return std::make_unique<AutomationServices>(AutomationServices{
            Preferences::shared(), TriggerEngine::shared(), ActivityLog::shared(),
            OrvelController::shared(), PowerTriggerCenter::shared(), WakeHelperClient::shared(),
            BluetoothTriggerSource::shared(), NetworkTriggerSource::shared(),
            platform.userDefaults(), platform.bluetooth(), platform.network(), platform.workspace(),
            platform.powerSources()});
    });
    // Lazy: a cancelled export or import panel must build no service.
    Registry::provide<SettingsTransfer::Owners>([] {
        return std::make_unique<SettingsTransfer::Owners>(SettingsTransfer::Owners{
            []() -> TriggerEngine& { return TriggerEngine::shared(); },
            []() -> DriveKeepAlive& { return DriveKeepAlive::shared(); },
            []() -> Preferences& { return Preferences::shared(); },
            []() -> Bluetooth& { return Platform::current().bluetooth(); }});
    });
    // Built in the order the window used to reach them, the first page's first.
    Registry::provide<SettingsServices>([] {
        Platform& platform = Platform::current();
        OrvelController& controller = OrvelController::shared();
        Preferences& prefs = Preferences::shared();
        PowerTriggerCenter& power = PowerTriggerCenter::shared();
        DeviceState& devices = DeviceState::shared();
        DriveKeepAlive& drives = DriveKeepAlive::shared();
        return std::make_unique<SettingsServices>(
            SettingsServices{controller, prefs, power, devices, drives, KeyboardBacklight::shared(),
                             InputBlocker::shared(), platform.userDefaults(),
                             platform.permissions(), platform.loginItems(), platform.systemInfo(),
                             platform.processes(), Registry::instance<AutomationServices>()});
    });
    return true;
}();

}  // namespace
}  // namespace orvel
