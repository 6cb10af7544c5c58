#pragma once

#include "triggers/TriggerRule.h"
#include "ui/View.h"

namespace orvel {

class TriggerEngine;

// "Only while on AC power": the rule acts on its events only while on mains power.
struct ACOnlyToggle {
    TriggerEngine& engine;
    TriggerRule rule;

    ui::View body() const;
    void set(bool on) const;
};

}  // namespace orvel
