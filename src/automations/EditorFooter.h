#pragma once

#include "automations/RuleRow.h"

namespace orvel {

// The last row of every rule editor: "Delete Rule", "Test" and "Collapse", through the list's
// engine.
struct EditorFooter {
    TriggerEngine& engine;
    TriggerRule rule;
    ExpandedRules expanded;

    ui::View body() const;

    // Removes the rule at once, asking nothing; its id stays in the open set.
    void deleteRule() const;
    // Plays the rule's appear edge as a simulated event.
    void test() const;
    void collapse() const;
};

}  // namespace orvel
