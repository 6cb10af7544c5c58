#include "triggers/ScheduleTriggerSource.h"

#include <algorithm>

#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "core/SleepEngine.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Calendar.h"
#include "foundation/DateFormatting.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "platform/PowerAssertionWords.h"
#include "platform/ScreenLock.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "triggers/TriggerEngine.h"
#include "triggers/WakeHelperClient.h"

namespace orvel {

namespace {

bool onRuleDays(const TriggerRule& rule, Date day) {
    if (!rule.schedDays || rule.schedDays->empty()) {
        return true;
    }
    const int weekday = localTime(day).weekday;
    return std::find(rule.schedDays->begin(), rule.schedDays->end(), weekday) !=
           rule.schedDays->end();
}

// A window's length in elapsed time: across a daylight-saving change the wall-clock end moves by
// the change. An end at or before the start spans midnight.
double windowSeconds(const TriggerRule& rule) {
    std::int64_t length = *rule.schedEndMin - *rule.schedStartMin;
    if (length <= 0) {
        length += 1440;
    }
    return static_cast<double>(length) * 60.0;
}

}  // namespace

ScheduleTriggerSource::ScheduleTriggerSource(Workspace& workspace, UserDefaults& defaults,
                                             ScreenLock& screenLock, PowerAssertions& assertions,
                                             ScheduleNeighbours neighbours)
    : workspace_(workspace),
      defaults_(defaults),
      screenLock_(screenLock),
      assertions_(assertions),
      neighbours_(std::move(neighbours)) {}

std::optional<Date> ScheduleTriggerSource::startOn(const TriggerRule& rule, Date day) {
    if (!rule.schedStartMin) {
        return std::nullopt;
    }
    const auto minutes = *rule.schedStartMin;
    return dateBySettingTime(day, static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
}

bool ScheduleTriggerSource::isActive(const TriggerRule& rule, Date date) {
    if (!rule.enabled || rule.isOneShot() || !rule.schedStartMin || !rule.schedEndMin) {
        return false;
    }
    const double seconds = windowSeconds(rule);
    for (int k = 0; k <= 1; ++k) {
        const Date day = addingDays(date, -k);
        if (!onRuleDays(rule, day)) {
            continue;
        }
        const auto windowStart = startOn(rule, day);
        if (windowStart && *windowStart <= date && date < *windowStart + seconds) {
            return true;
        }
    }
    return false;
}

std::vector<Date> ScheduleTriggerSource::dueOccurrences(const TriggerRule& rule, Date from,
                                                        Date to) {
    std::vector<Date> due;
    if (!rule.enabled) {
        return due;
    }
    if (rule.isOneShot()) {
        if (!rule.firedAt && rule.schedDate && from < *rule.schedDate && *rule.schedDate <= to) {
            due.push_back(*rule.schedDate);
        }
        return due;
    }
    if (rule.schedEndMin || !rule.schedStartMin) {
        return due;
    }
    for (Date day = startOfDay(from); day <= to; day = addingDays(day, 1)) {
        if (!onRuleDays(rule, day)) {
            continue;
        }
        const auto occurrence = startOn(rule, day);
        if (occurrence && from < *occurrence && *occurrence <= to) {
            due.push_back(*occurrence);
        }
    }
    return due;
}

void ScheduleTriggerSource::markOneShotFired(const TriggerRule& rule) {
    TriggerEngine& engine = neighbours_.engine();
    for (const auto& stored : engine.rules()) {
        if (stored.id == rule.id) {
            TriggerRule marked = stored;
            marked.firedAt = now();
            marked.enabled = false;
            engine.update(marked);
            return;
        }
    }
}

void ScheduleTriggerSource::start(const std::vector<TriggerRule>& rules) {
    rules_.clear();
    for (const auto& rule : rules) {
        if (rule.source == TriggerSource::schedule) {
            rules_.push_back(rule);
        }
    }
    if (!running_) {
        running_ = true;
        wakeObserver_ = workspace_.didWake.subscribe([this] { tick(); });
        clockObserver_ = workspace_.clockDidChange.subscribe([this] { step(false); });
    } else if (lastTick_) {
        lastTick_ = std::max(*lastTick_, now() - kTickSeconds);
    }
    activeNow.clear();
    for (const auto& rule : rules_) {
        if (isActive(rule, now())) {
            activeNow.insert(rule.id);
        }
    }
    // The tick ends by handing the wake dates over; a second hand-over would send the same list.
    tick();
}

void ScheduleTriggerSource::stop() {
    running_ = false;
    timer_.cancel();
    wakeObserver_.cancel();
    clockObserver_.cancel();
    rules_.clear();
    activeNow.clear();
    WakeHelperClient& client = neighbours_.wakeHelper();
    client.lastSynced.clear();
    client.refresh();
    if (client.state() == WakeHelperClient::State::active) {
        client.sync({});
    }
}

void ScheduleTriggerSource::tick() {
    step(true);
}

void ScheduleTriggerSource::step(bool store) {
    const Date current = now();
    const double stored = defaults_.doubleForKey(kLastTickKey);
    Date last = stored > 0 ? Date::fromUnix(stored) : current - 1.0;
    if (lastTick_ && *lastTick_ > last) {
        last = *lastTick_;
    }
    // A tick nested in this one starts from here.
    lastTick_ = current;

    // A copy: marking a one-shot re-synchronises the sources, which replaces the rules.
    const std::vector<TriggerRule> rules = rules_;
    const bool paused = neighbours_.engine().isPaused();
    const auto catchUpFrom = [&](const TriggerRule& rule) {
        return rule.isOneShot() ? Date{-Date::kDistantFutureSeconds} : last;
    };
    const bool due = std::any_of(rules.begin(), rules.end(), [&](const TriggerRule& rule) {
        return !(rule.isOneShot() && paused) &&
               !dueOccurrences(rule, catchUpFrom(rule), current).empty();
    });
    // Stored before anything is reported.
    if (store || due) {
        defaults_.setDouble(kLastTickKey, current.unixTime());
    }
    std::set<UUID> nowActive;
    for (const auto& rule : rules) {
        if (isActive(rule, current)) {
            nowActive.insert(rule.id);
        }
    }
    TriggerEngine& engine = neighbours_.engine();
    for (const auto& rule : rules) {
        const bool was = activeNow.count(rule.id) != 0;
        const bool is = nowActive.count(rule.id) != 0;
        if (was != is) {
            const auto outcome = engine.handle(rule.id, is, false);
            if (is) {
                fired(rule, outcome);
            }
        }
    }
    activeNow = nowActive;

    for (const auto& rule : rules) {
        // A pause leaves one-time dates pending; they are looked for from the distant past so
        // one that fell due during the pause, or before it was switched on, is still found.
        if (rule.isOneShot() && paused) {
            continue;
        }
        for (const Date occurrence : dueOccurrences(rule, catchUpFrom(rule), current)) {
            const double lateness = current.timeIntervalSince(occurrence);
            if (lateness > kGraceSeconds) {
                ActivityLog::add(ActivityEntry::make(
                    ActivityEntry::Kind::info, localizedFormat("Missed \u2014 %@", {rule.name}),
                    localizedFormat("Scheduled for %@; the computer couldn't act within the "
                                    "30-minute grace window",
                                    {templateDateText(occurrence, "MMMd jmm")})));
            } else {
                const auto outcome = engine.handle(rule.id, true, false);
                if (lateness > kLateNoteSeconds) {
                    ActivityLog::add(ActivityEntry::make(
                        ActivityEntry::Kind::info, localizedFormat("%@ fired late", {rule.name}),
                        localized("Caught up within the 30-minute grace window")));
                }
                fired(rule, outcome);
            }
            if (rule.isOneShot()) {
                markOneShotFired(rule);
            }
        }
    }
    syncWakes();
    armTimer();
}

std::optional<Date> ScheduleTriggerSource::nextBoundary(Date date) const {
    std::optional<Date> next;
    const auto consider = [&](Date candidate) {
        if (candidate > date && (!next || candidate < *next)) {
            next = candidate;
        }
    };
    bool wakes = false;
    for (const auto& rule : rules_) {
        if (!rule.enabled) {
            continue;
        }
        wakes = wakes || rule.wakeMac == true;
        if (rule.isOneShot()) {
            if (!rule.firedAt && rule.schedDate) {
                consider(*rule.schedDate);
            }
            continue;
        }
        // From yesterday's start, whose window may still be open, to a week ahead: every weekday.
        for (int k = -1; k <= 7 && rule.schedStartMin; ++k) {
            const Date day = addingDays(date, k);
            const auto start = onRuleDays(rule, day) ? startOn(rule, day) : std::nullopt;
            if (!start) {
                continue;
            }
            consider(*start);
            if (rule.schedEndMin) {
                consider(*start + windowSeconds(rule));
            }
        }
    }
    if (wakes) {
        // The wake dates reach over the days from today's: a new day brings a new date in.
        consider(startOfDay(addingDays(date, 1)));
    }
    return next;
}

void ScheduleTriggerSource::armTimer() {
    timer_.cancel();
    if (!running_) {
        return;
    }
    const Date current = now();
    const auto next = nextBoundary(current);
    std::optional<double> wait;
    if (next) {
        wait = next->timeIntervalSince(current);
    }
    // Wake dates waiting for a helper that is not active: its state is looked at as often as
    // before, so that an approval given outside Orvel is acted on as soon.
    const WakeHelperClient& client = neighbours_.wakeHelper();
    if (!client.lastSynced.empty() && client.state() != WakeHelperClient::State::active) {
        wait = std::min(wait.value_or(kTickSeconds), kTickSeconds);
    }
    if (wait) {
        timer_ = RunLoop::main().after(
            *wait, [this] { step(false); }, TimerMode::Common);
    }
}

void ScheduleTriggerSource::fired(const TriggerRule& rule, TriggerEngine::EdgeOutcome outcome) {
    // A suppressed or ignored edge (a pause, AC only, awaiting re-arm) has no follow-up, even
    // while some other session runs.
    if (rule.onAppear != TriggerAction::startSession ||
        (outcome != TriggerEngine::EdgeOutcome::started &&
         outcome != TriggerEngine::EdgeOutcome::sessionAlreadyRunning)) {
        return;
    }
    // What counts is the session after the edge was handled, whoever started it.
    if (!neighbours_.controller().isActive()) {
        return;
    }
    DriveKeepAlive& drives = neighbours_.drives();
    drives.rescan();
    for (const auto& drive : drives.drives()) {
        if (drive.enabled) {
            drives.readNow(drive.id);
        }
    }
    if (rule.lockAtFire == true) {
        lockScreenUntilSignIn();
    }
}

void ScheduleTriggerSource::lockScreenUntilSignIn() {
    if (auto locked = screenLock_.lockNow(); !locked.ok()) {
        Logger("schedule").notice("The screen was not locked: " + locked.error().message);
    }
    // The display is held whether or not the lock could be asked for.
    if (lockHold_) {
        return;
    }
    const AssertionCreation created =
        assertions_.createWithName(assertion_type::kPreventUserIdleDisplaySleep, kAssertionLevelOn,
                                   "Orvel \u2014 hold lock screen until sign-in");
    if (created.status != kIOReturnSuccess) {
        const EnglishTexts english;  // a log line
        Logger("schedule")
            .notice("The display is not held until sign-in. " +
                    powerLockFailure(assertion_type::kPreventUserIdleDisplaySleep, created.status));
        return;
    }
    lockHold_ = created.id;
    unlockObserver_ = screenLock_.unlocked.subscribe([this] { signedIn(); });
}

void ScheduleTriggerSource::signedIn() {
    if (!lockHold_) {
        return;
    }
    assertions_.release(*lockHold_);
    lockHold_.reset();
    unlockObserver_.cancel();
}

std::vector<Date> ScheduleTriggerSource::upcomingWakeDates() const {
    const Date current = now();
    std::vector<Date> dates;
    for (const auto& rule : rules_) {
        if (!rule.enabled || rule.wakeMac != true) {
            continue;
        }
        if (rule.isOneShot()) {
            if (!rule.firedAt && rule.schedDate && *rule.schedDate > current) {
                dates.push_back(*rule.schedDate);
            }
            continue;
        }
        if (!rule.schedStartMin) {
            continue;
        }
        for (int k = 0; k <= 7; ++k) {
            const Date day = addingDays(current, k);
            if (!onRuleDays(rule, day)) {
                continue;
            }
            const auto candidate = startOn(rule, day);
            if (candidate && *candidate > current) {
                dates.push_back(*candidate);
            }
        }
    }
    std::sort(dates.begin(), dates.end());
    if (dates.size() > kMaxWakeDates) {
        dates.resize(kMaxWakeDates);
    }
    return dates;
}

void ScheduleTriggerSource::syncWakes() {
    WakeHelperClient& client = neighbours_.wakeHelper();
    client.lastSynced = upcomingWakeDates();
    client.refresh();
    if (client.state() == WakeHelperClient::State::active) {
        client.sync(client.lastSynced);
    }
}

}  // namespace orvel
