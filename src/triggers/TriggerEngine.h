#pragma once

#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/ServiceNeighbours.h"
#include "foundation/Date.h"
#include "foundation/Log.h"
#include "foundation/Published.h"
#include "foundation/RunLoop.h"
#include "foundation/Signal.h"
#include "foundation/UUID.h"
#include "foundation/WeakRef.h"
#include "triggers/TriggerRule.h"

namespace orvel {

class ActivityLog;
class AppTriggerSource;
class Bluetooth;
class BluetoothTriggerSource;
class NetworkTriggerSource;
class Notifications;
class OrvelController;
class PowerSources;
class ScheduleTriggerSource;
class SessionControl;
class UserDefaults;
class WakeHelperClient;
class Workspace;

// What the engine works with. The sources are built before it; the wake helper, the controller
// and its way in are reached on first use (the controller tells the engine of its sessions and
// may build it; the helper reads its registration as it is built).
struct TriggerEngineNeighbours {
    UserDefaults& defaults;
    Bluetooth& bluetooth;
    Workspace& workspace;
    PowerSources& powerSources;
    Notifications& notifications;
    ActivityLog& activityLog;
    BluetoothTriggerSource& bluetoothSource;
    NetworkTriggerSource& networkSource;
    ScheduleTriggerSource& scheduleSource;
    AppTriggerSource& appSource;
    std::function<WakeHelperClient&()> wakeHelper;
    std::function<OrvelController&()> controller;
    std::function<SessionControl&()> session;
};

// The one owner of the trigger rules, and their evaluator.
//
// It keeps the rules, the priority of the five families, the master switch and the pause, stores
// them in the user defaults, hands each event source the rules it must watch, and decides what
// every rule event does to the session: start one, end one, or nothing, and why not. Every
// decision is written to the activity log. Main thread only.
class TriggerEngine final : public ObservableObject,
                            public WeakReferenceable,
                            public SessionParticipant {
  public:
    static constexpr const char* kRulesKey = "trigger.rules";
    static constexpr const char* kPriorityKey = "trigger.priority";
    static constexpr const char* kMasterKey = "trigger.master";
    static constexpr const char* kPausedUntilKey = "trigger.pausedUntil";
    // Where a stored rule list that could not be read whole is kept, as it was.
    static constexpr const char* kUnreadableRulesKey = "trigger.rules.unreadable";

    static std::vector<TriggerSource> defaultPriority();

    explicit TriggerEngine(TriggerEngineNeighbours neighbours);

    // Every rule in the order the user made them; the order breaks ties between shields.
    Published<std::vector<TriggerRule>> rules{*this, {}};
    // Families from highest (first) to lowest priority.
    Published<std::vector<TriggerSource>> priority{*this, defaultPriority()};
    ReadOnlyPublished<bool, TriggerEngine> masterEnabled{*this, true};
    // Turns every rule on or off; saves and re-synchronises the sources.
    void setMasterEnabled(bool on);
    // The end of a pause; the distant future pauses until re-enabled.
    Published<std::optional<Date>> pausedUntil{*this, std::nullopt};
    // The rule that last started a session through the engine.
    Published<std::optional<TriggerRule>> owningRule{*this, std::nullopt};
    // Whether a rule may start a session on its next start edge; a missing id is armed.
    std::unordered_map<UUID, bool> armed;
    // True only while the stored state is read: assigning the master switch then neither saves
    // nor synchronises.
    bool loading = false;

    // Hands every source its rules and arms the timer of a restored pause. Called once by
    // start-up.
    void start();

    void add(TriggerRule rule);
    // Replaces the rule with the same id; an unknown id changes nothing.
    void update(const TriggerRule& rule);
    // Removes every rule with this id (syncs also when none matched).
    void deleteRule(const UUID& id);
    void deleteRule(const TriggerRule& rule) { deleteRule(rule.id); }
    void deleteAll();
    // The settings import: an empty priority list keeps the current order.
    void replaceAll(std::vector<TriggerRule> newRules, std::vector<TriggerSource> newPriority);
    // Swaps the family with its neighbour; saves without re-synchronising.
    void movePriority(TriggerSource family, bool up);
    // Pauses for `seconds`, or until re-enabled when none are given.
    void pause(std::optional<double> seconds);
    // The panel's form: `indefinite` pauses until re-enabled whatever the seconds.
    void pause(double seconds, bool indefinite) {
        pause(indefinite ? std::nullopt : std::optional<double>(seconds));
    }
    void resume();
    bool isPaused() const;
    void save();
    void syncSources();
    // Clears "unavailable here" from rules whose device is paired again.
    void refreshAvailability();

    // What one rule event did.
    enum class EdgeOutcome { ignored, started, sessionAlreadyRunning, endHandled };
    // One rule event: the rule's condition appeared or cleared (`simulated` for the Test
    // button).
    EdgeOutcome handle(const UUID& ruleID, bool appeared, bool simulated);
    // The first rule of a higher family, in rule order, whose start condition still holds.
    std::optional<TriggerRule> shieldingRule(const TriggerRule& rule) const;
    // Whether the rule's condition holds now.
    bool isHolding(const TriggerRule& rule) const;
    // What a rule does now, as the rule lists and the reports say it. A rule without its device
    // or application cannot fire; a window that is open while no rule-started session runs
    // started nothing and starts nothing until it opens again (also when it was already open as
    // it was taken up), so only a session a rule started counts as held by it.
    enum class Standing { quiet, holding, waitsForNextOpening, needsDevice, needsApplication };
    Standing standing(const TriggerRule& rule) const;
    // needsDevice or needsApplication for a rule that lacks its choice, whether on or off.
    static std::optional<Standing> missingChoice(const TriggerRule& rule);
    // The reports' words for a standing that keeps a rule from firing now; empty for the others.
    static std::string standingNote(Standing standing);
    // The session that `owner` (if any) started has ended, by hand or by its own course.
    void sessionEnded(std::optional<UUID> owner, bool manual);
    void sessionStopped(const SessionEnd& end) override { sessionEnded(end.owner, end.manual); }
    // The Test button: plays the rule's appear edge.
    void simulate(const TriggerRule& rule);
    // The name of the first rule with this id, else "a rule".
    std::string ruleName(const UUID& id) const;

    // The triggers section of the diagnostic report.
    std::string diagnosticSection(bool redact) const;

    bool isArmed(const UUID& id) const;
    bool hasPauseTimer() const { return pauseTimer_.isValid(); }

    // Sent by sessionEnded, for observers that follow the trigger engine.
    Signal<std::optional<UUID>, bool> sessionEndReported;
    bool isStarted() const { return started_; }
    // Sent by start(), for observers that follow start-up.
    Signal<> started;

  private:
    void load();
    void masterChanged();
    void schedulePauseTimer(Date date);
    // Keeps each id's first rule; logs what it dropped.
    std::vector<TriggerRule> withoutDuplicates(std::vector<TriggerRule> list, const char* where);
    const TriggerRule* find(const UUID& id) const;
    EdgeOutcome startEdge(const TriggerRule& rule, bool simulated, const std::string& title);
    void endEdge(const TriggerRule& rule, bool simulated, const std::string& title);

    TriggerEngineNeighbours n_;
    Timer pauseTimer_;
    // An adapter coming or going starts or stops the Bluetooth source.
    Subscription bluetoothAuthorization_;
    bool started_ = false;
    Logger log_{"triggers"};
};

}  // namespace orvel
