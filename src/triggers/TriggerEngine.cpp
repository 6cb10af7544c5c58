#include "triggers/TriggerEngine.h"

#include <algorithm>
#include <unordered_set>

#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "core/PowerReadings.h"
#include "core/RedactedIdentifier.h"
#include "core/SessionControl.h"
#include "core/UserNotification.h"
#include "foundation/Localization.h"
#include "platform/Bluetooth.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "triggers/AppTriggerSource.h"
#include "triggers/BluetoothTriggerSource.h"
#include "triggers/NetworkTriggerSource.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/ScheduleTriggerSource.h"
#include "triggers/WakeHelperClient.h"

namespace orvel {

namespace {

using Kind = ActivityEntry::Kind;

bool isNetworkFamily(TriggerSource source) {
    return source == TriggerSource::wifiSSID || source == TriggerSource::network;
}

}  // namespace

std::vector<TriggerSource> TriggerEngine::defaultPriority() {
    return {TriggerSource::schedule, TriggerSource::bluetooth, TriggerSource::wifiSSID,
            TriggerSource::network, TriggerSource::app};
}

TriggerEngine::TriggerEngine(TriggerEngineNeighbours neighbours) : n_(std::move(neighbours)) {
    loading = true;
    load();
    loading = false;
}

// Store

void TriggerEngine::load() {
    UserDefaults& d = n_.defaults;

    // Rules are read one by one: one damaged rule must not cost the others, and the stored list
    // is kept aside before the next save replaces it.
    std::vector<TriggerRule> loaded;
    if (auto stored = d.object(kRulesKey)) {
        std::size_t skipped = 0;
        std::string firstFault;
        const Data* bytes = stored->as<Data>();
        auto json = bytes != nullptr ? parseJson(stringFromData(*bytes))
                                     : Result<Json>(Error{"not stored as data"});
        if (!json || !json->is_array()) {
            skipped = 1;
            firstFault = json ? "not a JSON list" : json.error().message;
        } else {
            for (const Json& element : *json) {
                auto rule = TriggerRule::fromJson(element);
                if (rule) {
                    loaded.push_back(std::move(*rule));
                } else {
                    if (skipped++ == 0) {
                        firstFault = rule.error().message;
                    }
                }
            }
        }
        if (skipped > 0) {
            d.setObject(kUnreadableRulesKey, *stored);
            log_.error("Skipped " + std::to_string(skipped) +
                       " stored trigger rule(s) that could not be read (" + firstFault +
                       "); the stored list is kept under " + kUnreadableRulesKey + ".");
        }
    }
    loaded = withoutDuplicates(std::move(loaded), "stored");
    armed.clear();
    for (const auto& rule : loaded) {
        armed[rule.id] = true;
    }
    rules = std::move(loaded);

    if (auto data = d.dataForKey(kPriorityKey)) {
        auto json = parseJson(stringFromData(*data));
        std::vector<TriggerSource> list;
        bool readable = json && json->is_array();
        if (readable) {
            for (const Json& element : *json) {
                auto family = enumFromJson<TriggerSource>(element, "priority");
                if (!family) {
                    readable = false;
                    break;
                }
                list.push_back(*family);
            }
        }
        // An unreadable or empty list would rank nothing: the default order stays.
        if (readable && !list.empty()) {
            // Lists saved before these families existed lack them: schedules lead, apps close.
            if (std::find(list.begin(), list.end(), TriggerSource::schedule) == list.end()) {
                list.insert(list.begin(), TriggerSource::schedule);
            }
            if (std::find(list.begin(), list.end(), TriggerSource::app) == list.end()) {
                list.push_back(TriggerSource::app);
            }
            priority = std::move(list);
        }
    }

    const auto master = d.object(kMasterKey);
    // Anything but a stored Boolean leaves the rules on, as on a fresh installation.
    const bool* on = master ? master->as<bool>() : nullptr;
    masterEnabled = on != nullptr ? *on : true;

    const double v = d.doubleForKey(kPausedUntilKey);
    std::optional<Date> until;
    // -1 stores a pause until re-enabled; 0 stores none.
    if (v == -1.0) {
        until = Date::distantFuture();
    } else if (v > 0) {
        until = Date::fromUnix(v);
    }
    // A pause that ran out while Orvel was not running is over.
    if (until && !until->isDistantFuture() && *until < now()) {
        until.reset();
    }
    pausedUntil = until;
}

std::vector<TriggerRule> TriggerEngine::withoutDuplicates(std::vector<TriggerRule> list,
                                                          const char* where) {
    std::unordered_set<UUID> seen;
    std::size_t dropped = 0;
    std::vector<TriggerRule> kept;
    kept.reserve(list.size());
    for (auto& rule : list) {
        if (seen.insert(rule.id).second) {
            kept.push_back(std::move(rule));
        } else {
            ++dropped;
        }
    }
    if (dropped > 0) {
        log_.error("Dropped " + std::to_string(dropped) + " " + where +
                   " trigger rule(s) whose id an earlier rule already has.");
    }
    return kept;
}

void TriggerEngine::save() {
    UserDefaults& d = n_.defaults;
    auto rulesText = dumpJson(TriggerRule::listToJson(rules()));
    if (rulesText) {
        d.setData(kRulesKey, dataFromString(*rulesText));
    } else {
        log_.error("Could not encode the trigger rules: " + rulesText.error().message);
        d.removeObject(kRulesKey);
    }
    Json list = Json::array();
    for (const TriggerSource family : priority()) {
        list.push_back(enumToJson(family));
    }
    auto priorityText = dumpJson(list);
    if (priorityText) {
        d.setData(kPriorityKey, dataFromString(*priorityText));
    } else {
        d.removeObject(kPriorityKey);
    }
    d.setBool(kMasterKey, masterEnabled());
    if (!pausedUntil()) {
        d.setDouble(kPausedUntilKey, 0.0);
    } else if (pausedUntil()->isDistantFuture()) {
        d.setInteger(kPausedUntilKey, -1);
    } else {
        d.setDouble(kPausedUntilKey, pausedUntil()->unixTime());
    }
}

void TriggerEngine::setMasterEnabled(bool on) {
    masterEnabled = on;
    masterChanged();
}

void TriggerEngine::masterChanged() {
    // Reading the store must neither write it back nor start the sources before start().
    if (loading) {
        return;
    }
    save();
    syncSources();
}

void TriggerEngine::start() {
    bluetoothAuthorization_ =
        n_.bluetooth.authorizationChanged.subscribe([weakSelf = weakRef(*this)] {
            if (auto* self = weakSelf.get()) {
                self->syncSources();
            }
        });
    syncSources();
    if (pausedUntil() && !pausedUntil()->isDistantFuture()) {
        schedulePauseTimer(*pausedUntil());
    }
    started_ = true;
    started.send();
}

void TriggerEngine::add(TriggerRule rule) {
    auto list = rules();
    armed[rule.id] = true;
    list.push_back(std::move(rule));
    rules = std::move(list);
    save();
    syncSources();
}

void TriggerEngine::update(const TriggerRule& rule) {
    auto list = rules();
    auto it = std::find_if(list.begin(), list.end(),
                           [&](const TriggerRule& r) { return r.id == rule.id; });
    if (it == list.end()) {
        return;
    }
    *it = rule;
    rules = std::move(list);
    save();
    syncSources();
}

void TriggerEngine::deleteRule(const UUID& id) {
    auto list = rules();
    std::erase_if(list, [&](const TriggerRule& r) { return r.id == id; });
    rules = std::move(list);
    armed.erase(id);
    // The session it started runs on, owned by no rule that still exists.
    if (owningRule() && owningRule()->id == id) {
        owningRule = std::nullopt;
    }
    save();
    syncSources();
}

void TriggerEngine::deleteAll() {
    rules = std::vector<TriggerRule>{};
    armed.clear();
    owningRule = std::nullopt;
    save();
    syncSources();
    ActivityLog::add(ActivityEntry::make(Kind::info, localized("All rules deleted")));
}

void TriggerEngine::replaceAll(std::vector<TriggerRule> newRules,
                               std::vector<TriggerSource> newPriority) {
    newRules = withoutDuplicates(std::move(newRules), "imported");
    armed.clear();
    for (const auto& rule : newRules) {
        armed[rule.id] = true;
    }
    rules = std::move(newRules);
    if (!newPriority.empty()) {
        priority = std::move(newPriority);
    }
    save();
    syncSources();
}

void TriggerEngine::movePriority(TriggerSource family, bool up) {
    auto list = priority();
    auto it = std::find(list.begin(), list.end(), family);
    if (it == list.end()) {
        return;
    }
    const auto index = static_cast<std::size_t>(it - list.begin());
    if (up ? index == 0 : index + 1 >= list.size()) {
        return;
    }
    std::swap(list[index], list[up ? index - 1 : index + 1]);
    priority = std::move(list);
    // No re-synchronising: the order ranks families for shields, the sources watch the same.
    save();
}

void TriggerEngine::pause(std::optional<double> seconds) {
    pausedUntil = seconds ? now() + *seconds : Date::distantFuture();
    save();
    if (!pausedUntil()->isDistantFuture()) {
        schedulePauseTimer(*pausedUntil());
    } else {
        // An earlier timed pause must not end this one.
        pauseTimer_.cancel();
    }
    std::string detail;
    if (!seconds) {
        detail = localized("Paused until re-enabled");
    } else if (*seconds >= 28800.0) {  // "until tomorrow" runs to 08:00: never under 8 hours
        detail = localized("Paused until tomorrow");
    } else {
        detail = localized("Paused for 1 hour");
    }
    ActivityLog::add(ActivityEntry::make(Kind::info, localized("Triggers paused"), detail));
}

void TriggerEngine::schedulePauseTimer(Date date) {
    pauseTimer_.cancel();
    // Common: a pause ends on time even while a modal alert runs.
    pauseTimer_ = RunLoop::main().after(
        date.timeIntervalSince(now()),
        [self = weakRef(*this)] {
            if (TriggerEngine* engine = self.get()) {
                engine->resume();
            }
        },
        TimerMode::Common);
}

void TriggerEngine::resume() {
    pauseTimer_.cancel();
    if (!pausedUntil()) {
        return;
    }
    pausedUntil = std::nullopt;
    save();
    syncSources();
    ActivityLog::add(ActivityEntry::make(Kind::info, localized("Triggers resumed")));
}

bool TriggerEngine::isPaused() const {
    if (!pausedUntil()) {
        return false;
    }
    return pausedUntil()->isDistantFuture() || *pausedUntil() > now();
}

void TriggerEngine::syncSources() {
    const bool active = masterEnabled() && !isPaused();
    std::vector<TriggerRule> bluetooth;
    std::vector<TriggerRule> network;
    std::vector<TriggerRule> schedule;
    std::vector<TriggerRule> apps;
    for (const auto& rule : rules()) {
        if (!rule.enabled) {
            continue;
        }
        if (rule.source == TriggerSource::bluetooth && !rule.unavailableHere) {
            bluetooth.push_back(rule);
        } else if (isNetworkFamily(rule.source) && !rule.unavailableHere) {
            network.push_back(rule);
        } else if (rule.source == TriggerSource::schedule) {
            schedule.push_back(rule);
        } else if (rule.source == TriggerSource::app) {
            apps.push_back(rule);
        }
    }

    BluetoothTriggerSource& bt = n_.bluetoothSource;
    // Without lasting Bluetooth permission nothing can be watched; start() re-syncs on a grant.
    if (active && !bluetooth.empty() &&
        n_.bluetooth.authorization() == BluetoothAuthorization::allowedAlways) {
        bt.start(std::move(bluetooth));
    } else {
        bt.stop();
    }
    if (active && !network.empty()) {
        n_.networkSource.start(std::move(network));
    } else {
        n_.networkSource.stop();
    }
    if (active && !schedule.empty()) {
        n_.scheduleSource.start(schedule);
    } else {
        n_.scheduleSource.stop();
    }
    if (active && !apps.empty()) {
        n_.appSource.setRules(apps);
    } else {
        n_.appSource.clearRules();
    }
}

void TriggerEngine::refreshAvailability() {
    auto list = rules();
    std::vector<BluetoothTriggerSource::PairedDevice> paired;
    bool pairedRead = false;
    bool changed = false;
    for (auto& rule : list) {
        if (!rule.unavailableHere) {
            continue;
        }
        // Only a Bluetooth rule needs something of this machine (its paired device).
        if (rule.source != TriggerSource::bluetooth) {
            rule.unavailableHere = false;
            changed = true;
            continue;
        }
        if (!rule.btAddress) {
            continue;
        }
        if (!pairedRead) {
            paired = n_.bluetoothSource.pairedDevices();
            pairedRead = true;
        }
        const bool found = std::any_of(paired.begin(), paired.end(), [&](const auto& device) {
            return device.address == *rule.btAddress;
        });
        if (found) {
            rule.unavailableHere = false;
            changed = true;
        }
    }
    if (!changed) {
        return;
    }
    rules = std::move(list);
    save();
    syncSources();
}

// Evaluation

const TriggerRule* TriggerEngine::find(const UUID& id) const {
    for (const auto& rule : rules()) {
        if (rule.id == id) {
            return &rule;
        }
    }
    return nullptr;
}

bool TriggerEngine::isArmed(const UUID& id) const {
    auto it = armed.find(id);
    return it == armed.end() || it->second;
}

std::string TriggerEngine::ruleName(const UUID& id) const {
    const TriggerRule* rule = find(id);
    return rule != nullptr ? rule->name : localized("a rule");
}

TriggerEngine::EdgeOutcome TriggerEngine::handle(const UUID& ruleID, bool appeared,
                                                 bool simulated) {
    const TriggerRule* found = find(ruleID);
    if (found == nullptr) {
        return EdgeOutcome::ignored;
    }
    // A copy: starting or ending a session may change the list under it.
    const TriggerRule rule = *found;
    // Rules fire on edges: once per appearance, armed again by the condition's clearing.
    const auto rearmOnClear = [&] {
        if (!appeared) {
            armed[rule.id] = true;
        }
    };
    if (!masterEnabled()) {
        rearmOnClear();
        return EdgeOutcome::ignored;
    }
    const std::string eventTitle = rule.eventText(appeared);
    const std::string title =
        simulated ? localizedFormat("Test \u2014 %@", {eventTitle}) : eventTitle;
    const auto record = [&](Kind kind, std::string detail) {
        ActivityLog::add(
            ActivityEntry::make(simulated ? Kind::simulated : kind, title, std::move(detail)));
    };
    if (isPaused()) {
        record(Kind::info, localized("Suppressed \u2014 triggers are paused"));
        rearmOnClear();
        return EdgeOutcome::ignored;
    }
    if (!rule.enabled || rule.unavailableHere) {
        rearmOnClear();
        return EdgeOutcome::ignored;
    }
    const TriggerAction action = appeared ? rule.onAppear : rule.onClear;
    if (action == TriggerAction::nothing) {
        if (simulated) {
            ActivityLog::add(ActivityEntry::make(Kind::simulated,
                                                 localizedFormat("Test \u2014 %@", {rule.name}),
                                                 localized("This event is set to do nothing")));
        }
        rearmOnClear();
        return EdgeOutcome::ignored;
    }
    // The power source is asked only for rules that care.
    if (rule.acOnly && !isOnACPower(n_.powerSources)) {
        record(Kind::info, localized("Ignored \u2014 rule runs only on AC power"));
        rearmOnClear();
        return EdgeOutcome::ignored;
    }
    EdgeOutcome outcome = EdgeOutcome::endHandled;
    if (action == TriggerAction::startSession) {
        outcome = startEdge(rule, simulated, title);
    } else {
        endEdge(rule, simulated, title);
    }
    rearmOnClear();
    return outcome;
}

TriggerEngine::EdgeOutcome TriggerEngine::startEdge(const TriggerRule& rule, bool simulated,
                                                    const std::string& title) {
    const auto record = [&](Kind kind, std::string detail) {
        ActivityLog::add(
            ActivityEntry::make(simulated ? Kind::simulated : kind, title, std::move(detail)));
    };
    OrvelController& controller = n_.controller();
    // The Test button plays the edge whatever the arming.
    if (!simulated && !isArmed(rule.id)) {
        record(Kind::info,
               localized("Ignored \u2014 awaiting re-arm (condition must clear first)"));
        return EdgeOutcome::ignored;
    }
    if (controller.isActive()) {
        record(Kind::info, localized("Ignored \u2014 a session is already running; rule re-armed"));
        return EdgeOutcome::sessionAlreadyRunning;
    }
    n_.session().startFromTrigger(rule.name, rule.id, rule.durationSeconds);
    if (!controller.isActive()) {
        // Nothing started, so nothing is owned, announced or latched.
        const auto& reason =
            controller.powerBlockReason() ? controller.powerBlockReason() : controller.lastError();
        record(Kind::info,
               reason ? localizedFormat("Ignored \u2014 the session could not start: %@", {*reason})
                      : localized("Ignored \u2014 the session could not start"));
        return EdgeOutcome::ignored;
    }
    armed[rule.id] = false;
    owningRule = rule;
    const auto& order = priority();
    const auto at = std::find(order.begin(), order.end(), rule.source);
    const std::int64_t rank = at == order.end() ? 1 : (at - order.begin()) + 1;
    record(Kind::started,
           localizedFormat("Started session \u2014 %@ \u00B7 %@, priority %@",
                           {rule.durationLabel(), displayName(rule.source), std::to_string(rank)}));
    notifyUser(n_.notifications, localized("Orvel started"),
               localizedFormat("%@ started a session (%@).", {rule.name, rule.durationLabel()}));
    return EdgeOutcome::started;
}

void TriggerEngine::endEdge(const TriggerRule& rule, bool simulated, const std::string& title) {
    const auto record = [&](Kind kind, std::string detail) {
        ActivityLog::add(
            ActivityEntry::make(simulated ? Kind::simulated : kind, title, std::move(detail)));
    };
    const auto shielded = [&] {
        auto shield = shieldingRule(rule);
        if (shield) {
            record(Kind::shielded,
                   localizedFormat("Ignored \u2014 shielded by %@ (higher priority still holding)",
                                   {shield->name}));
        }
        return shield.has_value();
    };
    OrvelController& controller = n_.controller();
    // A rule's session ends at any rule's end edge, unless a higher family still holds.
    if (const auto owner = controller.triggerOwnedRuleID()) {
        if (shielded()) {
            return;
        }
        // Read before ending: the owner's name is what the entry is about.
        const std::string ownerName = ruleName(*owner);
        n_.session().endFromTrigger();
        record(Kind::ended,
               localizedFormat("Ended session \u2014 it was started by %@", {ownerName}));
        notifyUser(n_.notifications, localized("Orvel ended"),
                   localizedFormat("%@ ended the session.", {rule.name}));
        return;
    }
    if (!controller.isActive()) {
        return;
    }
    if (!rule.endsManual.value_or(false)) {
        record(Kind::info,
               localized("Ignored \u2014 the running session is manual and untouchable"));
        return;
    }
    if (shielded()) {
        return;
    }
    controller.stop(true);
    record(Kind::ended, localized("Ended MANUAL session \u2014 this rule has \u201CAlso end "
                                  "manual sessions\u201D on"));
    notifyUser(n_.notifications, localized("Orvel ended"),
               localizedFormat("%@ ended the manual session.", {rule.name}));
}

std::optional<TriggerRule> TriggerEngine::shieldingRule(const TriggerRule& rule) const {
    const auto& order = priority();
    auto it = std::find(order.begin(), order.end(), rule.source);
    if (it == order.end() || it == order.begin()) {
        return std::nullopt;
    }
    const std::vector<TriggerSource> higher(order.begin(), it);
    for (const auto& candidate : rules()) {
        if (std::find(higher.begin(), higher.end(), candidate.source) == higher.end()) {
            continue;
        }
        // Only a rule that would start a session, and whose condition holds now, keeps one.
        if (candidate.enabled && !candidate.unavailableHere &&
            candidate.onAppear == TriggerAction::startSession && isHolding(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

bool TriggerEngine::isHolding(const TriggerRule& rule) const {
    switch (rule.source) {
        case TriggerSource::bluetooth:
            return rule.btAddress && n_.bluetoothSource.isConnected(rule.btAddress);
        case TriggerSource::wifiSSID:
        case TriggerSource::network:
            return rule.matcher && n_.networkSource.matches(*rule.matcher);
        case TriggerSource::schedule:
            return n_.scheduleSource.activeNow.count(rule.id) != 0;
        case TriggerSource::app: {
            if (!rule.appBundleID) {
                return false;
            }
            return !n_.workspace.runningApplicationsKnownAs({*rule.appBundleID}).empty();
        }
    }
    return false;
}

std::optional<TriggerEngine::Standing> TriggerEngine::missingChoice(const TriggerRule& rule) {
    if (rule.source == TriggerSource::bluetooth && rule.btAddress.value_or("").empty()) {
        return Standing::needsDevice;
    }
    if (rule.source == TriggerSource::app && rule.appBundleID.value_or("").empty()) {
        return Standing::needsApplication;
    }
    return std::nullopt;
}

TriggerEngine::Standing TriggerEngine::standing(const TriggerRule& rule) const {
    if (const auto missing = missingChoice(rule)) {
        return *missing;
    }
    if (!rule.enabled || rule.unavailableHere || !isHolding(rule)) {
        return Standing::quiet;
    }
    if (rule.source == TriggerSource::schedule && rule.onAppear == TriggerAction::startSession) {
        const OrvelController& controller = n_.controller();
        if (!controller.isActive() || !controller.triggerOwnedRuleID()) {
            return Standing::waitsForNextOpening;
        }
    }
    return Standing::holding;
}

std::string TriggerEngine::standingNote(Standing standing) {
    switch (standing) {
        case Standing::needsDevice:
            return "cannot fire until a device is chosen";
        case Standing::needsApplication:
            return "cannot fire until an application is chosen";
        case Standing::waitsForNextOpening:
            return "window open, starts a session at its next opening";
        case Standing::quiet:
        case Standing::holding:
            break;
    }
    return {};
}

void TriggerEngine::sessionEnded(std::optional<UUID> owner, bool manual) {
    if (owner && manual) {
        if (const TriggerRule* found = find(*owner)) {
            const TriggerRule rule = *found;
            // The user's word stands until the condition clears.
            if (isHolding(rule)) {
                armed[rule.id] = false;
                ActivityLog::add(ActivityEntry::make(
                    Kind::rearmed, localized("Manual off"),
                    localizedFormat("%@ rule re-armed \u2014 fires again after its condition "
                                    "clears and returns",
                                    {rule.name})));
            }
        }
    }
    owningRule = std::nullopt;
    sessionEndReported.send(owner, manual);
}

void TriggerEngine::simulate(const TriggerRule& rule) {
    ActivityLog::add(ActivityEntry::make(Kind::simulated,
                                         localizedFormat("Test \u2014 %@", {rule.name}),
                                         localizedFormat("Simulated %@", {rule.eventText(true)})));
    handle(rule.id, true, true);
}

// Report

std::string TriggerEngine::diagnosticSection(bool redact) const {
    std::string text =
        "\u2500\u2500 TRIGGERS "
        "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500"
        "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500"
        "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500";
    text += "\n  master ";
    text += masterEnabled() ? "on" : "off";
    text += " \u00B7 paused ";
    text += isPaused() ? "yes" : "no";
    text += " \u00B7 priority ";
    bool first = true;
    for (const TriggerSource family : priority()) {
        if (!first) {
            text += " \u203A ";
        }
        first = false;
        text += displayName(family);
    }
    text += "\n  " + n_.wakeHelper().statusLine();
    if (rules().empty()) {
        text += "\n  no rules";
    }
    for (const auto& rule : rules()) {
        const std::string name = redact ? redactedIdentifier(rule.name) : rule.name;
        const std::string target =
            redact ? redactedIdentifier(rule.targetText()) : rule.targetText();
        text += "\n  [";
        text += rule.enabled ? "on " : "off";
        text += "] " + name + " \u00B7 " + displayName(rule.source) + " \u00B7 " + target +
                " \u00B7 appear\u2192" + std::string(rawValue(rule.onAppear)) + " clear\u2192" +
                std::string(rawValue(rule.onClear));
        if (rule.acOnly) {
            text += " \u00B7 AC only";
        }
        if (rule.unavailableHere) {
            text += " \u00B7 UNAVAILABLE HERE";
        } else if (const std::string note = standingNote(standing(rule)); !note.empty()) {
            text += " \u00B7 " + note;
        }
        if (rule.source == TriggerSource::bluetooth && rule.btBattEnd && rule.btBattRecover &&
            *rule.btBattRecover <= *rule.btBattEnd) {
            text += " \u00B7 recovery " + std::to_string(*rule.btBattRecover) +
                    "% is not above the floor: " +
                    std::to_string(*BluetoothTriggerSource::recoveryLevel(rule)) + "% used";
        }
    }
    text += "\n\n" + n_.activityLog.exportText(redact);
    return text;
}

}  // namespace orvel
