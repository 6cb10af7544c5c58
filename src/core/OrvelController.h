#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/DurationPreset.h"
#include "core/EngineKind.h"
#include "core/ServiceNeighbours.h"
#include "core/SessionControl.h"
#include "core/SessionRequest.h"
#include "core/SleepEngine.h"
#include "core/SleepOptions.h"
#include "foundation/Date.h"
#include "foundation/Published.h"
#include "foundation/RunLoop.h"
#include "foundation/UUID.h"
#include "foundation/WeakRef.h"

namespace orvel {

class Notifications;
class PowerAssertions;
class PowerSources;
class Preferences;
class Processes;
class Workspace;
struct RunningApplication;

// The session controller: the one object that knows whether a session runs. Every road that
// starts or ends a session goes through it; its state is read-only published values that the
// status item, the panel and the power centre observe. Main thread only; failures land in
// `lastError`.
class OrvelController final : public ObservableObject,
                              public WeakReferenceable,
                              public SessionControl {
  public:
    // The platform capabilities the session uses, and the participants it tells, in order.
    OrvelController(Preferences& prefs, Workspace& workspace, PowerAssertions& powerAssertions,
                    Processes& processes, PowerSources& powerSources, Notifications& notifications,
                    ServiceNeighbours neighbours);
    ~OrvelController() override;

    ReadOnlyPublished<bool, OrvelController> isActive{*this, false};
    ReadOnlyPublished<std::int64_t, OrvelController> secondsRemaining{*this, 0};
    ReadOnlyPublished<std::optional<std::string>, OrvelController> lastError{*this, std::nullopt};
    // lastError in English, for records that stay English (the activity log).
    const std::optional<std::string>& lastErrorInEnglish() const { return lastErrorInEnglish_; }
    // Why no session holds although one was asked for: the last start was refused by both
    // engines, or the session it started failed and ended. Cleared by the next start.
    ReadOnlyPublished<std::optional<std::string>, OrvelController> failure{*this, std::nullopt};
    ReadOnlyPublished<std::optional<std::string>, OrvelController> powerBlockReason{*this,
                                                                                    std::nullopt};
    ReadOnlyPublished<bool, OrvelController> isOnAC;
    ReadOnlyPublished<std::optional<std::string>, OrvelController> watchedAppName{*this,
                                                                                  std::nullopt};
    ReadOnlyPublished<std::optional<std::string>, OrvelController> startedByRuleName{*this,
                                                                                     std::nullopt};
    // The user's chosen options; every assignment saves the session and re-applies them.
    Published<SleepOptions> options;
    // The chosen duration; every assignment saves the session.
    Published<DurationPreset> preset;
    ReadOnlyPublished<std::string, OrvelController> engineName{*this, ""};
    // While the compatibility engine is chosen and Orvel's caffeinate is not there to run, where
    // it was looked for: sessions run on the native engine meanwhile.
    ReadOnlyPublished<std::optional<std::string>, OrvelController> missingCaffeinate{*this,
                                                                                     std::nullopt};
    // While a service that keeps the running session's locks is not running, what that means in
    // words: its locks are gone (with either engine) and are taken again when it returns.
    ReadOnlyPublished<std::optional<std::string>, OrvelController> locksGone{*this, std::nullopt};
    // What this desktop cannot hold of the display (and so of the screen saver), in words, asked
    // of the platform whether or not a session holds it; nothing where it can be held fully.
    ReadOnlyPublished<std::optional<std::string>, OrvelController> displayShortfall{*this,
                                                                                    std::nullopt};
    // The spinning disks that the session's disk hold cannot keep spinning, by the kernel's names.
    ReadOnlyPublished<std::vector<std::string>, OrvelController> unkeptDisks{*this, {}};

    // The rule that owns the running session; none for a session the user started.
    const std::optional<UUID>& triggerOwnedRuleID() const { return triggerOwnedRuleID_; }
    // Seconds left of a rule's timed session while it is frozen over sleep.
    const std::optional<std::int64_t>& frozenTriggerRemaining() const {
        return frozenTriggerRemaining_;
    }
    const std::optional<Date>& deadline() const { return deadline_; }
    const std::optional<std::int32_t>& watchedPID() const { return watchedPID_; }
    const std::optional<std::string>& watchedBundleID() const { return watchedBundleID_; }
    EngineKind engineKind() const { return engine_->kind(); }

    // The options handed to the engine: the user's, less system sleep on battery, with the time
    // left and the watched process.
    SleepOptions effectiveOptions() const;

    // Starts (or restarts) the session described by `request`; true when a session runs
    // afterwards. A refused start changes nothing but `lastError`.
    bool start(const SessionRequest& request);
    // Starts (or restarts) the session with the current options, preset, deadline and owner.
    bool start();
    // Ends the session; `persist` saves the now inactive session.
    void stop(bool persist);
    void startFromTrigger(const std::string& ruleName, const UUID& ruleID,
                          std::int64_t seconds) override;
    void endFromTrigger() override;
    // Ends the session for safety: the power centre's pending resume is kept.
    void endForSafety() { endNaturally(); }
    // Resumes for an exact remainder, or without end.
    void startForSeconds(std::optional<std::int64_t> seconds) override;
    void checkACAutoStart();
    void selectPreset(DurationPreset newPreset);
    std::optional<Date> deadlineForPreset(DurationPreset forPreset) const;
    void watchApp(const RunningApplication& app);
    void reapplyOptions();
    // Sets one of the user's options: the whole options are published once (saved and
    // re-applied), whether the value changed or not.
    void setOption(bool SleepOptions::*field, bool value);
    // Leaves disk sleep to the drives' own reads: the option goes off (saved and re-applied).
    // True when it was on.
    bool stopPreventingDiskSleep();
    void endIfUntilAppQuits();
    void saveSession();
    void setPowerBlockReason(std::optional<std::string> reason) override;

    std::string statusText() const;
    std::string formatRemaining() const;

    // Keeps `secondsRemaining` current to within `interval` seconds while the handle lives: a
    // countdown on screen. It is brought up to date at once. With no countdown shown nothing
    // ticks; the session still ends at its deadline.
    Subscription showCountdown(double interval);

    // Whether the countdown ticks (only while one is shown).
    bool hasTicker() const { return ticker_.isValid(); }
    bool hasDeadlineTimer() const { return deadlineTimer_.isValid(); }
    bool hasBatteryOffTimer() const { return batteryOffTimer_.isValid(); }

  private:
    // Sets lastError from words built in the reader's language, keeping them in English too.
    void setLastError(const std::function<std::string()>& words);
    void clearLastError();
    std::optional<std::string> lastErrorInEnglish_;
    void configureEngine(std::optional<EngineKind> kind);
    void engineChanged(EngineKind kind);
    SleepOptions effectiveOptionsFor(const std::optional<Date>& until,
                                     const std::optional<std::int32_t>& pid) const;
    // The request that starts the running session again as it is.
    SessionRequest currentRequest() const;
    void startOnAC();
    // Follows the services that keep the session's locks: `locksGone`, and one activity-log
    // entry as they go and one as they return.
    void refreshLocks();

    // An onExit for the engine start about to be made; it ends the session only while that
    // start is still the one holding it.
    std::function<void()> exitHandler();
    // Starts the engine, falling back once to the other engine; false when both refuse.
    bool startEngine(const SleepOptions& effective);
    bool startOtherEngine(const SleepOptions& effective, const SleepEngineError& firstError);
    void watchFailures(SleepEngine& watched);
    void engineFailed(const SleepEngineError& error);
    // Ends the session by its own course, without the end-of-session notification.
    void endNaturally();
    // No session holds because of `why` (the error's words): published in `failure` and posted
    // as a notification, since the switch alone would only read "sleep allowed".
    void failed(const std::string& why);

    // The clock, sleep and wake, power rules and restoration.
    void updateRemaining();
    // `secondsRemaining` as of now, without ending the session.
    void refreshRemaining();
    // Arms the deadline and, while a countdown is shown, the next tick; or neither.
    void startTicker();
    void armDeadline();
    void armTick();
    void stopClock();
    void endSession();
    void willSleep();
    void didWake();
    void appTerminated(const RunningApplication& app);
    void powerTick();
    void batteryOffFired();
    void restoreSession();

    Preferences& prefs_;
    Workspace& workspace_;
    PowerAssertions& powerAssertions_;
    Processes& processes_;
    PowerSources& powerSources_;
    Notifications& notifications_;
    std::shared_ptr<SleepEngine> engine_;
    // The participants, told in order, and the services the session asks.
    const ServiceNeighbours neighbours_;
    std::optional<UUID> triggerOwnedRuleID_;
    std::optional<std::int64_t> frozenTriggerRemaining_;
    std::optional<Date> deadline_;
    std::optional<std::int32_t> watchedPID_;
    std::optional<std::string> watchedBundleID_;
    bool endingNaturally_ = false;
    bool endedBySleep_ = false;
    Timer ticker_;
    Timer deadlineTimer_;
    // The intervals of the countdowns shown.
    std::multiset<double> countdowns_;
    Timer powerTicker_;
    Timer batteryOffTimer_;
    SubscriptionBag bag_;
    std::vector<std::string> stoppedServices_;  // those `locksGone` names
    // Counts engine starts and stops, so that the exit notice of an earlier one is told apart.
    std::uint64_t engineRun_ = 0;
};

}  // namespace orvel
