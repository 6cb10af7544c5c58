#pragma once

#include "automations/AutomationsAndTriggersView.h"
#include "settings/SettingsReset.h"
#include "settings/SettingsTransfer.h"
#include "settings/SettingsView.h"

namespace orvel {

// What the settings and automations windows are handed, as the application wires them.
AutomationServices automationServices();
SettingsServices settingsServices();
// Lazy: a cancelled export or import panel must build no service.
SettingsTransfer::Owners settingsTransferOwners();
// Lazy as well: the reset is built only once both alerts are confirmed.
ResetOwners resetOwners();

}  // namespace orvel
