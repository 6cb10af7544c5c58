#include "app/compose/Compose.h"

#include "app/ServiceWiring.h"
#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Registry.h"
#include "platform/Platform.h"
#include "settings/SettingsReset.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

// The session core: the settings, the log, notifications, the engine and the controller.
void provideCoreServices() {
    Registry::provide<Preferences>([] {
        Platform& platform = Platform::current();
        return std::make_unique<Preferences>(platform.userDefaults(), platform.systemInfo());
    });
    Registry::provide<ActivityLog>(
        [] { return std::make_unique<ActivityLog>(Platform::current().userDefaults()); });
    Registry::provide<OrvelController>([] {
        Platform& platform = Platform::current();
        return std::make_unique<OrvelController>(Preferences::shared(), platform.workspace(),
                                                 platform.powerAssertions(), platform.processes(),
                                                 platform.powerSources(), platform.notifications(),
                                                 serviceNeighbours());
    });
    // Built in the order a reset first used them.
    Registry::provide<SettingsReset>([] {
        TriggerEngine& engine = TriggerEngine::shared();
        OrvelController& controller = OrvelController::shared();
        PowerTriggerCenter& powerCenter = PowerTriggerCenter::shared();
        DriveKeepAlive& drives = DriveKeepAlive::shared();
        Platform& platform = Platform::current();
        return std::make_unique<SettingsReset>(SettingsResetNeighbours{
            engine, controller, powerCenter, drives, Preferences::shared(), ActivityLog::shared(),
            platform.userDefaults(), platform.permissions(), platform.processes()});
    });
}

}  // namespace orvel
