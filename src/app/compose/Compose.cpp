#include "app/compose/Compose.h"

namespace orvel {

// Providing names a recipe and builds nothing, so no service depends on this order; it follows
// the layers so that every program reads the same root.
void composeServices() {
    provideCoreServices();
    provideDeviceServices();
    provideTriggerServices();
    provideMenuBarServices();
    provideReportServices();
}

}  // namespace orvel
