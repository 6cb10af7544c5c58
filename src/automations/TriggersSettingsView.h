#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/ActivityLog.h"
#include "triggers/TriggerRule.h"
#include "ui/ViewComponent.h"

namespace orvel {

class Preferences;
class TriggerEngine;

// The Triggers sub-tab: the master switch, the pause, the order of the rule families below the
// pinned battery and UPS safety, and the newest trigger activity. It changes no rule and keeps
// no state: counts and holding markers are worked out at each evaluation. Main thread only.
class TriggersSettingsView final : public ui::ViewComponent {
  public:
    static constexpr std::size_t kShownEntries = 12;

    TriggersSettingsView(TriggerEngine& engine, ActivityLog& log, Preferences& prefs);

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

    // "Until tomorrow": seconds to 08:00 of the next calendar day, at least a minute.
    static double secondsUntilTomorrow();
    // The safety switches that are on, in a fixed order, or "nothing enabled · quiet".
    std::string safetySummary() const;
    // Every rule of a family, enabled or not, available here or not.
    std::int64_t ruleCount(TriggerSource source) const;
    // The first rule of a family, in rule order, that would start a session and whose condition
    // holds now: the one that shields lower families.
    std::optional<TriggerRule> holdingRule(TriggerSource source) const;
    // Empties the log and its stored copy; logs nothing about it.
    void clearActivity();
    static ui::Color dotColor(ActivityEntry::Kind kind);

  private:
    ui::View generalSection();
    ui::View pauseRow();
    ui::View prioritySection();
    ui::View safetyRow();
    ui::View priorityRow(TriggerSource source, std::size_t index, std::size_t count);
    ui::View activitySection();
    static ui::View activityRow(const ActivityEntry& entry);

    TriggerEngine& engine_;
    ActivityLog& log_;
    Preferences& prefs_;
};

}  // namespace orvel
