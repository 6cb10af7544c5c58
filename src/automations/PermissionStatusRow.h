#pragma once

#include <functional>
#include <string>

#include "ui/View.h"

namespace orvel {

// One permission line in caption type: the title, then the status (secondary when granted,
// orange otherwise) and, only while not granted and an action is given, a small "Enable"
// button that runs it. Title and status are shown as given (callers pass localised text).
ui::View PermissionStatusRow(const std::string& title, const std::string& status, bool granted,
                             std::function<void()> enable = {});

}  // namespace orvel
