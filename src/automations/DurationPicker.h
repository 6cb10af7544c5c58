#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "triggers/TriggerRule.h"
#include "ui/View.h"

namespace orvel {

class TriggerEngine;

// One session length a rule or the power settings can choose; 0 is indefinite.
struct DurationChoice {
    std::string label;
    std::int64_t secs = 0;

    // The six choices, labels localised when first asked for.
    static const std::vector<DurationChoice>& all();
    // One picker option per choice: its label, tagged with its seconds.
    static std::vector<ui::View> pickerRows();
};

// "Session duration": a rule's length; a stored length that is none of the choices selects
// nothing and stays until the user picks one.
struct DurationPicker {
    TriggerEngine& engine;
    TriggerRule rule;

    ui::View body() const;
    void set(std::int64_t seconds) const;
};

}  // namespace orvel
