#include "app/compose/MenuBarServices.h"

#include "app/compose/Compose.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/BuiltInDisplay.h"
#include "devices/DeviceState.h"
#include "devices/InputBlocker.h"
#include "devices/PermissionPrimer.h"
#include "foundation/Registry.h"
#include "menubar/SystemA11y.h"
#include "platform/Platform.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

// Braced lists build their members in order: the services come up as the views asked for them.
StatusItemController::Services statusItemServices() {
    return StatusItemController::Services{OrvelController::shared(),
                                          Preferences::shared(),
                                          TriggerEngine::shared(),
                                          PermissionPrimer::shared(),
                                          Platform::current().processes(),
                                          Platform::current().notifications(),
                                          menuViewServices};
}

MenuView::Services menuViewServices() {
    Platform& platform = Platform::current();
    return MenuView::Services{OrvelController::shared(),    Preferences::shared(),
                              DeviceState::shared(),        InputBlocker::shared(),
                              BuiltInDisplay::shared(),     TriggerEngine::shared(),
                              PowerTriggerCenter::shared(), SystemA11y::shared(),
                              platform.userDefaults(),      platform.processes()};
}

// The menu bar's own services.
void provideMenuBarServices() {
    Registry::provide<SystemA11y>(
        [] { return std::make_unique<SystemA11y>(Platform::current().accessibilityDisplay()); });
}

}  // namespace orvel
