#pragma once

#include <set>
#include <string>
#include <vector>

#include "automations/RuleRow.h"
#include "automations/RuleTextEdits.h"
#include "foundation/Published.h"
#include "foundation/UUID.h"
#include "triggers/TriggerRule.h"
#include "ui/ViewComponent.h"

namespace orvel {

class Network;
class Preferences;
class TriggerEngine;
class WakeHelperClient;

// The Schedule sub-tab: the wake helper's registration, the schedule rules with their editors,
// and adding repeating windows and one-time rules. It keeps only which editors are open and the
// names being typed; the rules stay in the engine. Main thread only.
class ScheduleSettingsView final : public ui::ViewComponent {
  public:
    ScheduleSettingsView(TriggerEngine& engine, WakeHelperClient& helper, Preferences& prefs,
                         Network& network);

    // Ids of the rules whose editor is open.
    Published<std::set<UUID>> expanded{*this, {}};

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

    // The schedule rules, in the engine's order, enabled or not.
    std::vector<TriggerRule> scheduleRules() const;
    // Adds a new rule of kind "window" or "oneshot" with its defaults and opens its editor.
    void addRule(const std::string& kind);

  private:
    ui::View helperSection();
    ui::View rulesSection();

    TriggerEngine& engine_;
    WakeHelperClient& helper_;
    Preferences& prefs_;
    Network& network_;
    RuleTextEdits edits_;
};

}  // namespace orvel
