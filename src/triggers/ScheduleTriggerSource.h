#pragma once

#include <functional>
#include <optional>
#include <set>
#include <vector>

#include "foundation/Date.h"
#include "foundation/RunLoop.h"
#include "foundation/Signal.h"
#include "foundation/UUID.h"
#include "platform/PowerAssertions.h"
#include "triggers/TriggerEngine.h"
#include "triggers/TriggerRule.h"

namespace orvel {

class DriveKeepAlive;
class OrvelController;
class ScreenLock;
class UserDefaults;
class WakeHelperClient;
class Workspace;

// The services a schedule source reaches on events only: each is built on first use, as before
// (the engine builds this source; the helper client reads its registration as it is built).
struct ScheduleNeighbours {
    std::function<TriggerEngine&()> engine;
    std::function<WakeHelperClient&()> wakeHelper;
    std::function<OrvelController&()> controller;
    std::function<DriveKeepAlive&()> drives;
};

// Turns the clock into rule events for schedule rules: windows (edges when they open and
// close), fire-at times and one-time dates (each occurrence reported once as appeared).
//
// A tick runs at the next boundary (a window opening or closing, an occurrence falling due), at
// every wake and whenever the wall clock is set: it reports window edges, then catches up the
// occurrences that fell due since the previous tick, firing those within the grace period and
// logging the older ones as missed. Every tick ends by handing the upcoming wake dates to the
// wake helper and arming the timer for the next boundary (or sooner, while wake dates wait for
// a helper that is not active). Main thread only.
//
// The time of the tick is stored under "sched.lastTick", before anything is reported, when an
// occurrence is due, when rules are handed over and at a wake; the ticks in between only reach
// a window edge or nothing. So the stored time may be older than the last tick, but no
// occurrence of the rules lies between the two, and after a crash the next start catches up
// exactly what the crashed run had not.
class ScheduleTriggerSource {
  public:
    static constexpr const char* kLastTickKey = "sched.lastTick";
    // How far back a rule handed over while running is caught up (as far as a tick every 20 s
    // would have reached), and how often a helper that is not active is looked at while wake
    // dates wait for it.
    static constexpr double kTickSeconds = 20.0;
    // An occurrence found later than this is missed, not fired.
    static constexpr double kGraceSeconds = 1800.0;
    // A firing later than this is noted in the activity log.
    static constexpr double kLateNoteSeconds = 25.0;
    // How many wake dates the helper is given at most.
    static constexpr std::size_t kMaxWakeDates = 16;

    ScheduleTriggerSource(Workspace& workspace, UserDefaults& defaults, ScreenLock& screenLock,
                          PowerAssertions& assertions, ScheduleNeighbours neighbours);

    // Keeps the given rules whose family is schedule, takes the windows open now as already
    // reported, and ticks.
    void start(const std::vector<TriggerRule>& rules);
    // Drops the rules and the open windows without closing events, and clears the helper's
    // wakes; the stored last tick stays.
    void stop();
    // Ticks now and stores its time.
    void tick();
    // The next moment after `date` at which a window opens or closes, an occurrence falls due or
    // (with wake rules) the days of the wake dates move on; nothing when none of the rules has any.
    std::optional<Date> nextBoundary(Date date) const;

    // Whether a window rule's window holds at `date`.
    static bool isActive(const TriggerRule& rule, Date date);
    // The fire-at occurrences or the one-time date in (from, to], ascending.
    static std::vector<Date> dueOccurrences(const TriggerRule& rule, Date from, Date to);
    // The rule's start time on the local day that holds `day`.
    static std::optional<Date> startOn(const TriggerRule& rule, Date day);
    // Stamps and disables the stored copy of a one-time rule.
    void markOneShotFired(const TriggerRule& rule);
    // Locks the screen and keeps the display on until the user signs in again: one display hold
    // however often it locks, released at the first unlock.
    void lockScreenUntilSignIn();
    bool isHoldingLockScreen() const { return lockHold_.has_value(); }

    // The start times of wake rules over today and the next seven days, earliest first, the
    // 16 earliest at most; repeated moments stay repeated.
    std::vector<Date> upcomingWakeDates() const;
    void syncWakes();

    // The window rules whose window held at the last tick (or at the last start).
    std::set<UUID> activeNow;

    bool isRunning() const { return running_; }
    const std::vector<TriggerRule>& rules() const { return rules_; }

  private:
    void step(bool store);
    void armTimer();
    void fired(const TriggerRule& rule, TriggerEngine::EdgeOutcome outcome);
    void signedIn();

    Workspace& workspace_;
    UserDefaults& defaults_;
    ScreenLock& screenLock_;
    PowerAssertions& assertions_;
    ScheduleNeighbours neighbours_;
    std::vector<TriggerRule> rules_;
    bool running_ = false;
    Timer timer_;
    // The previous tick of this run, which the store may lag behind.
    std::optional<Date> lastTick_;
    Subscription wakeObserver_;
    Subscription clockObserver_;
    std::optional<AssertionID> lockHold_;
    Subscription unlockObserver_;
};

}  // namespace orvel
