#pragma once

#include <string>

#include "triggers/TriggerRule.h"
#include "ui/View.h"

namespace orvel {

class TriggerEngine;

// What one edge of a rule does: a picker over the three actions for the field `keyPath` names
// (`onAppear` or `onClear`).
struct ActionPicker {
    TriggerEngine& engine;
    std::string title;  // already localised
    TriggerRule rule;
    TriggerAction TriggerRule::*keyPath = &TriggerRule::onAppear;

    ui::View body() const;
    void set(TriggerAction action) const;
};

}  // namespace orvel
