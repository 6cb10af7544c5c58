#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "foundation/UUID.h"
#include "triggers/TriggerEngine.h"
#include "triggers/TriggerRule.h"
#include "ui/View.h"

namespace orvel {

class Network;
class TriggerEngine;

// The set of open rule editors of one rule list, which the list owns.
using ExpandedRules = ui::Binding<std::set<UUID>>;
// A sub-tab's editor for one rule.
using RuleEditor = std::function<ui::View(const TriggerRule&)>;

// One rule in a rule list: a header (disclosure chevron, name, badges, summary chips and the
// enable switch) that opens and closes the rule's editor below it. Built anew at every
// evaluation from a copy of the rule.
struct RuleRow {
    // A badge beside the rule's name: an outlined word in one colour.
    struct Badge {
        std::string text;  // localisation key
        ui::Color color;
        // What the badge means, in a sentence, for a badge that asks something of the user.
        std::string help;
        bool operator==(const Badge&) const = default;
    };

    TriggerEngine& engine;
    // Asked for the Location permission that network name rules need.
    Network& network;
    TriggerRule rule;
    ExpandedRules expanded;
    RuleEditor editor;

    ui::View body() const;

    // A header tap: opens a closed editor, closes an open one.
    void toggleExpanded() const;
    // The enable switch, written through the row's engine.
    void setEnabled(bool on) const;

    // "UNAVAILABLE ON THIS COMPUTER" first, then a missing device or application, then "HOLDING"
    // or an open window that starts nothing before its next opening; the holding test is made
    // only for a rule that is available and enabled.
    std::optional<Badge> firstBadge() const;
    // "NEEDS LOCATION": an SSID rule while Location is not always allowed.
    std::optional<Badge> secondBadge() const;

    // The look every badge shares, also outside rule rows.
    static ui::View badge(const std::string& textKey, ui::Color color);
    // Whether a rule's condition holds now, counted for the benchmarks.
    static bool isHolding(const TriggerEngine& engine, const TriggerRule& rule);
    static TriggerEngine::Standing standing(const TriggerEngine& engine, const TriggerRule& rule);
    static std::uint64_t holdingTestCount();
};

}  // namespace orvel
