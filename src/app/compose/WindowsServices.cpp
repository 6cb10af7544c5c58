#include "automations/AutomationsAndTriggersView.h"
#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "foundation/Registry.h"
#include "platform/Platform.h"
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
    return true;
}();

}  // namespace
}  // namespace orvel
