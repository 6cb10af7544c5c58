#pragma once

namespace orvel {

// The composition root: how each service is built and handed its neighbours. Each group names the
// recipes of one service folder; building waits until a service is first asked for.
void provideCoreServices();
void provideDeviceServices();
void provideTriggerServices();
void provideMenuBarServices();
void provideReportServices();

// Every recipe, in the order of the layers: the session core, the devices and drives, the
// triggers, the menu bar, then the reports and help. A program built on the services calls it
// once at start, before anything asks for a service.
void composeServices();

}  // namespace orvel
