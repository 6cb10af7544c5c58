#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "automations/RuleRow.h"
#include "foundation/Date.h"
#include "triggers/TriggerRule.h"
#include "ui/View.h"

namespace orvel {

class Preferences;
class RuleTextEdits;
class TriggerEngine;
class WakeHelperClient;

// The seven weekday pills of a repeating window, Monday first whatever the locale, and its day
// summary. The last selected day cannot be turned off: a window with no day would silently run
// every day.
struct DaysPicker {
    TriggerEngine& engine;
    TriggerRule rule;

    ui::View body() const;
    // Turns `day` (1 = Sunday … 7 = Saturday) off when `selected`, else on; days are stored in
    // ascending order. Turning off the only selected day writes nothing.
    void toggleDay(std::int64_t day, bool selected) const;
    // The weekday numbers in the order of the pills.
    static constexpr std::int64_t kOrder[7] = {2, 3, 4, 5, 6, 7, 1};
};

// The editor of one schedule rule, below its row: name, kind, the timing of a repeating window
// or of a one-time rule, the edge actions, wake, lock and enforcement, with warnings about
// settings elsewhere that defeat the rule. Every control writes its one field at once through
// `writeRule`, the name through `edits`. A time or date that is not stored reads "Not set":
// showing a default the rule does not hold would promise a fire that never comes.
struct ScheduleRuleEditor {
    TriggerRule rule;
    ExpandedRules expanded;
    TriggerEngine& engine;
    WakeHelperClient& helper;
    Preferences& prefs;
    RuleTextEdits& edits;

    static constexpr std::int64_t kDefaultStart = 1260;
    static constexpr std::int64_t kDefaultEnd = 420;
    static constexpr double kOneShotLead = 3600;

    ui::View body() const;

    // A time picker's date for a minutes-after-midnight field (today at that time, `fallback`
    // when absent), and the minutes of a picked date written back.
    ui::Binding<Date> minutesBinding(std::optional<std::int64_t> TriggerRule::*field,
                                     std::int64_t fallback) const;
    // "Fire at": a future date also clears `firedAt`; `enabled` is never touched.
    ui::Binding<Date> fireAtBinding() const;
    void setKind(const std::string& kind) const;
    // On stores 07:00 whatever the end was before; off makes a start-only rule.
    void setHasEndTime(bool on) const;
    // Installs the helper only when turned on while it is not active.
    void setWakeMac(bool on) const;
    // "Set" beside an unstored time: stores what a new rule of its kind gets.
    void setStart() const;
    void setFireDate() const;
    // The minutes a field stores, or `fallback`, as today's date.
    static Date todayAt(std::int64_t minutes);

  private:
    ui::View oneShotRows() const;
    ui::View windowRows() const;
    ui::View toRow() const;
    ui::View notSet(std::string label, std::function<void()> set) const;
    ui::View wakeRows() const;
    ui::View lockRows() const;
    ui::View enforcementRows() const;
    ui::View flagToggle(const std::string& title, std::optional<bool> TriggerRule::*field) const;
};

}  // namespace orvel
