#include "app/ServiceWiring.h"
#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "foundation/Registry.h"
#include "platform/Platform.h"

namespace orvel {
namespace {

// The session core: the settings, the log, notifications, the engine and the controller.
[[maybe_unused]] const bool kProvided = [] {
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
    return true;
}();

}  // namespace
}  // namespace orvel
