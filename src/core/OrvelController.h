#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/DurationPreset.h"
#include "core/EngineKind.h"
#include "core/SleepEngine.h"
#include "core/SleepOptions.h"
#include "foundation/Date.h"
#include "foundation/Published.h"
#include "foundation/RunLoop.h"
#include "foundation/UUID.h"
#include "foundation/WeakRef.h"

namespace orvel {

class Preferences;
struct RunningApplication;

// The session controller: the one object that knows whether a session runs. Every road that
// starts or ends a session goes through it. Main thread only; failures land in `lastError`.
class OrvelController final : public ObservableObject, public WeakReferenceable {
  public:
    static OrvelController& shared();
    ~OrvelController() override;

    Published<bool> isActive{*this, false};
    Published<std::int64_t> secondsRemaining{*this, 0};
    Published<std::optional<std::string>> lastError{*this, std::nullopt};
    // Written only by the power centre.
    Published<std::optional<std::string>> powerBlockReason{*this, std::nullopt};
    Published<bool> isOnAC;
    Published<std::optional<std::string>> watchedAppName{*this, std::nullopt};
    Published<std::optional<std::string>> startedByRuleName{*this, std::nullopt};
    std::optional<UUID> triggerOwnedRuleID;
    std::optional<std::int64_t> frozenTriggerRemaining;
    bool endingNaturally = false;
    bool skipPresetDeadline = false;
    // The user's chosen options; every assignment saves the session and re-applies them.
    Published<SleepOptions> options;
    // The chosen duration; every assignment saves the session.
    Published<DurationPreset> preset;
    Preferences& prefs;
    std::shared_ptr<SleepEngine> engine;
    std::optional<Date> deadline;
    std::optional<std::int32_t> watchedPID;
    std::optional<std::string> watchedBundleID;
    bool endedBySleep = false;
    Published<std::string> engineName{*this, ""};

    // Engine choice.
    void configureEngine(std::optional<EngineKind> kind);
    void engineChanged(EngineKind kind);
    SleepOptions effectiveOptions() const;

    // Starting and stopping. start() returns whether a session runs afterwards.
    bool start();
    void stop(bool persist);
    void startFromTrigger(const std::string& ruleName, const UUID& ruleID, std::int64_t seconds);
    void endFromTrigger();
    void startForSeconds(std::optional<std::int64_t> seconds);
    void startOnAC();
    void checkACAutoStart();
    void selectPreset(DurationPreset newPreset);
    std::optional<Date> deadlineForPreset(DurationPreset forPreset) const;
    void watchApp(const RunningApplication& app);
    void reapplyOptions();
    std::string statusText() const;
    std::string formatRemaining() const;

    // The clock, sleep and wake, power rules and restoration.
    void updateRemaining();
    void startTicker();
    void endSession();
    void willSleep();
    void didWake();
    void appTerminated(const RunningApplication& app);
    void endIfUntilAppQuits();
    void powerTick();
    void batteryOffFired();
    void saveSession();
    void restoreSession();

    bool hasTicker() const { return ticker_.isValid(); }
    bool hasBatteryOffTimer() const { return batteryOffTimer_.isValid(); }

  private:
    OrvelController();

    // The fields a caller of start() sets just before it; put back when start() refuses.
    struct CallerFields {
        std::optional<std::string> startedByRuleName;
        std::optional<UUID> triggerOwnedRuleID;
        std::optional<Date> deadline;
        std::optional<std::int32_t> watchedPID;
        std::optional<std::string> watchedBundleID;
        std::optional<std::string> watchedAppName;
        std::optional<std::string> oneOffBundleID;
    };
    CallerFields callerFields() const;
    void restoreCallerFields(const CallerFields& fields);

    // An onExit for the engine start about to be made; it ends the session only while that
    // start is still the one holding it.
    std::function<void()> exitHandler();
    // Starts `engine`, falling back once to the other engine; false when both refuse.
    bool startEngine(const SleepOptions& effective);
    bool startOtherEngine(const SleepOptions& effective, const SleepEngineError& firstError);
    void watchFailures(SleepEngine& watched);
    void engineFailed(const SleepEngineError& error);
    // Ends the session by its own course, without the end-of-session notification.
    void endNaturally();
    void refreshStatusItem();

    Timer ticker_;
    Timer powerTicker_;
    Timer batteryOffTimer_;
    SubscriptionBag bag_;
    // Counts engine starts and stops, so that the exit notice of an earlier one is told apart.
    std::uint64_t engineRun_ = 0;
};

}  // namespace orvel
