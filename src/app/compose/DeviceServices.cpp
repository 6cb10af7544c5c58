#include "app/compose/Compose.h"

#include <memory>

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/BuiltInDisplay.h"
#include "devices/DeviceState.h"
#include "devices/InputBlocker.h"
#include "devices/KeyboardBacklight.h"
#include "devices/PermissionPrimer.h"
#include "devices/ScreenSaverBlock.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Registry.h"
#include "platform/Platform.h"

namespace orvel {

// The devices the session quiets and the drives it keeps spinning.
void provideDeviceServices() {
    Registry::provide<ScreenSaverBlock>(
        [] { return std::make_unique<ScreenSaverBlock>(Platform::current().powerAssertions()); });
    Registry::provide<BuiltInDisplay>([] {
        Platform& platform = Platform::current();
        return std::make_unique<BuiltInDisplay>(platform.displays(), platform.backlight());
    });
    Registry::provide<KeyboardBacklight>([] {
        return std::make_unique<KeyboardBacklight>(Platform::current().keyboardBacklightRoutes());
    });
    Registry::provide<InputBlocker>([] {
        Platform& platform = Platform::current();
        return std::make_unique<InputBlocker>(platform.hidDevices(), platform.inputBlocking(),
                                              platform.permissions(), platform.workspace(),
                                              platform.cursor(), platform.eventTap());
    });
    Registry::provide<PermissionPrimer>([] {
        return std::make_unique<PermissionPrimer>(Platform::current().userDefaults(),
                                                  InputBlocker::shared());
    });
    Registry::provide<DeviceState>([] {
        Platform& platform = Platform::current();
        return std::make_unique<DeviceState>(
            Preferences::shared(), InputBlocker::shared(), ScreenSaverBlock::shared(),
            BuiltInDisplay::shared(), KeyboardBacklight::shared(), PermissionPrimer::shared(),
            DeviceState::Machine{platform.displays(), platform.accessibilityDisplay(),
                                 platform.systemInfo(), platform.processes()},
            // Asked without building the controller: none yet means no session.
            [] {
                const auto* controller = Registry::existing<OrvelController>();
                return controller != nullptr && controller->isActive();
            });
    });
    Registry::provide<DriveKeepAlive>([] {
        Platform& platform = Platform::current();
        return std::make_unique<DriveKeepAlive>(
            platform.volumes(), platform.uncachedReader(), platform.networkShares(),
            platform.userDefaults(),
            // Lazy: building the controller can tell its participants, this one among them, of a
            // restored session.
            []() -> OrvelController& { return OrvelController::shared(); });
    });
}

}  // namespace orvel
