#pragma once

#include <string>
#include <string_view>

#include "automations/RuleRow.h"
#include "triggers/TriggerRule.h"
#include "ui/View.h"

namespace orvel {

class NetworkTriggerSource;
class RuleTextEdits;
class TriggerEngine;

// The editor of one network rule, below its row: what it matches, what its match beginning and
// ending do, the session length, AC only and the footer. Controls write through `writeRule`, the
// typed value through `edits`, so a half-typed address or range never reaches the network
// source: "10.0.0.0/1" on the way to "/16" would match far more than meant.
struct NetworkRuleEditor {
    TriggerRule rule;
    ExpandedRules expanded;
    TriggerEngine& engine;
    RuleTextEdits& edits;
    NetworkTriggerSource& source;

    static constexpr const char* kValueField = "value";

    ui::View body() const;

    // The kind name of a rule's matcher; a rule without one counts as a network name rule.
    static std::string_view kindOf(const TriggerRule& rule);
    // The value the text field and the interface picker read.
    static std::string valueOf(const TriggerRule& rule);

    // "Match": an empty matcher of the new kind and the source that goes with it; the name
    // stays. A value still being typed is written first, as leaving the field would.
    void setKind(std::string_view kind) const;
    // The typed value, with the name it gives the rule, into the stored rule of its current
    // kind.
    static void writeValue(TriggerRule& stored, const std::string& text);
    // "Ethernet" or "WiFi"; the name stays.
    void setInterface(const std::string& type) const;
    void setOnClear(TriggerAction action) const;

  private:
    ui::View valueRow(std::string_view kind) const;
    ui::View clearRow(bool ssid) const;
};

}  // namespace orvel
