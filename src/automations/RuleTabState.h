#pragma once

#include <set>
#include <string>

#include "foundation/UUID.h"

namespace orvel {

class TriggerEngine;

// The view state a Bluetooth or Network rule sub-tab starts from each time the page shows it:
// no editor open, and the permission row granted and "Checking…" until the tab's own check
// answers.
struct RuleTabState {
    TriggerEngine* engine = nullptr;
    std::set<UUID> expanded;
    bool granted = true;
    std::string status;
};

// A fresh state on `engine`.
RuleTabState makePermissionTab(TriggerEngine& engine);

}  // namespace orvel
