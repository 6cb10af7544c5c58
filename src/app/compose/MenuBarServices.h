#pragma once

#include "menubar/MenuView.h"
#include "menubar/StatusItemController.h"

namespace orvel {

// What the tray item and its panel are handed, as the application wires them.
StatusItemController::Services statusItemServices();
MenuView::Services menuViewServices();

}  // namespace orvel
