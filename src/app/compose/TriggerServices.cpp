#include "app/compose/Compose.h"

#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "core/SessionControl.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Registry.h"
#include "platform/Platform.h"
#include "triggers/AppTriggerSource.h"
#include "triggers/BluetoothTriggerSource.h"
#include "triggers/NetworkTriggerSource.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/ScheduleTriggerSource.h"
#include "triggers/TriggerEngine.h"
#include "triggers/WakeHelperClient.h"

namespace orvel {
namespace {

TriggerEngine& engine() {
    return TriggerEngine::shared();
}

OrvelController& controller() {
    return OrvelController::shared();
}

SessionControl& session() {
    return OrvelController::shared();
}

PowerTriggerCenter& powerCenter() {
    return PowerTriggerCenter::shared();
}

WakeHelperClient& wakeHelper() {
    return WakeHelperClient::shared();
}

DriveKeepAlive& drives() {
    return DriveKeepAlive::shared();
}

}  // namespace

// The trigger sources, the rules engine and the power centre. A neighbour handed as an accessor
// is one that would build the service asking for it (the engine builds its sources, the
// controller the engine and the power centre) or one still built on first use, as before.
void provideTriggerServices() {
    Registry::provide<WakeHelperClient>([] {
        Platform& platform = Platform::current();
        return std::make_unique<WakeHelperClient>(platform.helperService(),
                                                  platform.helperConnection());
    });
    Registry::provide<NetworkTriggerSource>([] {
        return std::make_unique<NetworkTriggerSource>(Platform::current().network(), engine);
    });
    Registry::provide<AppTriggerSource>([] {
        return std::make_unique<AppTriggerSource>(Platform::current().workspace(), engine,
                                                  controller);
    });
    Registry::provide<BluetoothTriggerSource>([] {
        return std::make_unique<BluetoothTriggerSource>(Platform::current().bluetooth(), engine,
                                                        powerCenter, controller);
    });
    Registry::provide<ScheduleTriggerSource>([] {
        Platform& platform = Platform::current();
        return std::make_unique<ScheduleTriggerSource>(
            platform.workspace(), platform.userDefaults(), platform.screenLock(),
            platform.powerAssertions(),
            ScheduleNeighbours{
                .engine = engine,
                .wakeHelper = wakeHelper,
                .controller = controller,
                .drives = drives,
            });
    });
    Registry::provide<TriggerEngine>([] {
        Platform& platform = Platform::current();
        return std::make_unique<TriggerEngine>(TriggerEngineNeighbours{
            .defaults = platform.userDefaults(),
            .bluetooth = platform.bluetooth(),
            .workspace = platform.workspace(),
            .powerSources = platform.powerSources(),
            .notifications = platform.notifications(),
            .activityLog = ActivityLog::shared(),
            .bluetoothSource = BluetoothTriggerSource::shared(),
            .networkSource = NetworkTriggerSource::shared(),
            .scheduleSource = ScheduleTriggerSource::shared(),
            .appSource = AppTriggerSource::shared(),
            .wakeHelper = wakeHelper,
            .controller = controller,
            .session = session,
        });
    });
    Registry::provide<PowerTriggerCenter>([] {
        Platform& platform = Platform::current();
        return std::make_unique<PowerTriggerCenter>(platform.powerSources(),
                                                    platform.notifications(), Preferences::shared(),
                                                    controller, session);
    });
}

}  // namespace orvel
