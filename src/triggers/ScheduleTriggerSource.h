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
// A tick runs every 20 s and at every wake: it stores its time under "sched.lastTick" before
// reporting anything, reports window edges, then catches up the occurrences that fell due since
// the previous tick, firing those within the grace period and logging the older ones as missed.
// Every tick ends by handing the upcoming wake dates to the wake helper. Main thread only.
class ScheduleTriggerSource {
  public:
    static constexpr const char* kLastTickKey = "sched.lastTick";
    static constexpr double kTickSeconds = 20.0;
    // An occurrence found later than this is missed, not fired.
    static constexpr double kGraceSeconds = 1800.0;
    // A firing later than this is noted in the activity log.
    static constexpr double kLateNoteSeconds = 25.0;
    // How many wake dates the helper is given at most.
    static constexpr std::size_t kMaxWakeDates = 16;

    static ScheduleTriggerSource& shared();
    ScheduleTriggerSource(Workspace& workspace, UserDefaults& defaults, ScreenLock& screenLock,
                          PowerAssertions& assertions, ScheduleNeighbours neighbours);

    // Keeps the given rules whose family is schedule, takes the windows open now as already
    // reported, and ticks.
    void start(const std::vector<TriggerRule>& rules);
    // Drops the rules and the open windows without closing events, and clears the helper's
    // wakes; the stored last tick stays.
    void stop();
    void tick();

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
    Subscription wakeObserver_;
    std::optional<AssertionID> lockHold_;
    Subscription unlockObserver_;
};

}  // namespace orvel
