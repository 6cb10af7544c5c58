#include "core/OrvelController.h"

#include <algorithm>

#include "core/ActivityLog.h"
#include "core/PowerReadings.h"
#include "core/Preferences.h"
#include "core/UserNotification.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "platform/PowerAssertions.h"
#include "platform/PowerSources.h"
#include "platform/Processes.h"
#include "platform/Workspace.h"

namespace orvel {

namespace {

constexpr double kPowerTickInterval = 5.0;

// "logind", "logind and the screen saver", "a, b and c".
std::string joinedNames(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    return text;
}

// The duration while no application is watched: "until an app quits" then waits for nothing and
// gives way to the default duration, or to no end when the default is that too.
DurationPreset unwatched(DurationPreset wanted, DurationPreset defaultPreset) {
    if (wanted != DurationPreset::untilAppQuits) {
        return wanted;
    }
    return defaultPreset != DurationPreset::untilAppQuits ? defaultPreset
                                                          : DurationPreset::indefinite;
}

}  // namespace

OrvelController::OrvelController(Preferences& prefs, Workspace& workspace,
                                 PowerAssertions& powerAssertions, Processes& processes,
                                 PowerSources& powerSources, Notifications& notifications,
                                 ServiceNeighbours neighbours)
    : isOnAC(*this, isOnACPower(powerSources)),
      options(*this, SleepOptions{},
              [this] {
                  saveSession();
                  reapplyOptions();
              }),
      preset(*this, unwatched(prefs.defaultPreset(), prefs.defaultPreset()),
             [this] { saveSession(); }),
      prefs_(prefs),
      workspace_(workspace),
      powerAssertions_(powerAssertions),
      processes_(processes),
      powerSources_(powerSources),
      notifications_(notifications),
      engine_(AssertionEngine::make(powerAssertions)),
      neighbours_(std::move(neighbours)) {
    configureEngine(std::nullopt);

    bag_.push_back(workspace_.willSleep.subscribe([this] { willSleep(); }));
    bag_.push_back(workspace_.didWake.subscribe([this] { didWake(); }));
    bag_.push_back(workspace_.didTerminateApplication.subscribe(
        [this](const RunningApplication& app) { appTerminated(app); }));
    bag_.push_back(powerAssertions_.servicesChanged.subscribe([this] { refreshLocks(); }));
    const auto readShortfall = [this] {
        auto words = powerAssertions_.shortfall(assertion_type::kPreventUserIdleDisplaySleep);
        if (words != displayShortfall()) {
            displayShortfall = std::move(words);
        }
        auto disks = powerAssertions_.unkeptDisks();
        if (disks != unkeptDisks()) {
            unkeptDisks = std::move(disks);
        }
    };
    readShortfall();
    bag_.push_back(powerAssertions_.shortfallChanged.subscribe(readShortfall));

    // Later values only: the current engine was just configured.
    bag_.push_back(
        prefs_.engine.subscribe([this](const EngineKind& kind) { engineChanged(kind); }));

    WeakRef<OrvelController> weakSelf = weakRef(*this);
    bag_.push_back(powerSources_.powerStateDidChange.subscribe([this] { powerTick(); }));
    if (!powerSources_.announcesChanges()) {
        Logger("power").notice(
            "This system does not announce power changes: looking for one every 5 seconds");
        powerTicker_ = RunLoop::main().every(kPowerTickInterval, [weakSelf] {
            if (auto* self = weakSelf.get()) {
                self->powerTick();
            }
        });
    }
    RunLoop::main().async([weakSelf] {
        if (auto* self = weakSelf.get()) {
            self->restoreSession();
        }
    });
}

OrvelController::~OrvelController() = default;

// Engine choice ---------------------------------------------------------------------------------

void OrvelController::configureEngine(std::optional<EngineKind> kind) {
    const EngineKind chosen = kind.value_or(prefs_.engine());
    const bool caffeinate = chosen == EngineKind::caffeinate;
    const bool runnable = caffeinate && processes_.isExecutableFile(kCaffeinatePath);
    if (runnable) {
        engine_ = CaffeinateEngine::make(processes_);
    } else {
        engine_ = AssertionEngine::make(powerAssertions_);
    }
    engineName = engine_->name();
    std::optional<std::string> missing;
    if (caffeinate && !runnable) {
        missing = processes_.resolve(kCaffeinatePath);
    }
    // Said once when it comes about, not at every session that then runs without it.
    if (missing && missing != missingCaffeinate()) {
        Logger("engine").notice(
            "The caffeinate engine is chosen, but Orvel's caffeinate is not at " + *missing +
            ": sessions run on logind inhibitor locks instead");
    }
    if (missing != missingCaffeinate()) {
        missingCaffeinate = std::move(missing);
    }
}

void OrvelController::engineChanged(EngineKind kind) {
    const bool wasActive = isActive();
    // A session that waits for an application goes on waiting for it on the new engine.
    const SessionRequest before = currentRequest();
    stop(false);
    configureEngine(kind);
    if (wasActive) {
        SessionRequest request = currentRequest();
        request.watchedApp = before.watchedApp;
        request.oneOffBundleID = before.oneOffBundleID;
        start(request);
    }
}

SleepOptions OrvelController::effectiveOptions() const {
    return effectiveOptionsFor(deadline_, watchedPID_);
}

SleepOptions OrvelController::effectiveOptionsFor(const std::optional<Date>& until,
                                                  const std::optional<std::int32_t>& pid) const {
    SleepOptions effective = options();
    if (!isOnAC()) {
        effective.preventSystemSleep = false;  // system sleep is prevented only on AC power
    }
    effective.timeout =
        until ? std::max<std::int64_t>(0, roundedSeconds(until->timeIntervalSince(now()))) : 0;
    effective.watchPID =
        engine_->kind() == EngineKind::caffeinate && preset() == DurationPreset::untilAppQuits
            ? pid
            : std::nullopt;
    return effective;
}

// Starting and stopping --------------------------------------------------------------------------

std::function<void()> OrvelController::exitHandler() {
    // A child can exit just as its session is stopped or handed to another engine; its notice
    // then arrives late and must not end what runs now.
    return [weakSelf = weakRef(*this), run = ++engineRun_] {
        if (auto* self = weakSelf.get(); self != nullptr && self->engineRun_ == run) {
            self->endSession();
        }
    };
}

bool OrvelController::startEngine(const SleepOptions& effective) {
    watchFailures(*engine_);
    auto first = engine_->start(effective, exitHandler());
    if (first.ok()) {
        return true;
    }
    return startOtherEngine(effective, first.error());
}

bool OrvelController::startOtherEngine(const SleepOptions& effective,
                                       const SleepEngineError& firstError) {
    std::shared_ptr<SleepEngine> other;
    if (engine_->kind() == EngineKind::caffeinate) {
        other = AssertionEngine::make(powerAssertions_);
    } else {
        other = CaffeinateEngine::make(processes_);
    }
    watchFailures(*other);
    SleepOptions withoutWatch = effective;
    withoutWatch.watchPID.reset();
    auto second = other->start(withoutWatch, exitHandler());
    if (!second.ok()) {
        setLastError([&] { return second.error().localizedDescription(); });
        return false;
    }
    engine_ = std::move(other);
    engineName = engine_->name();
    setLastError([&] {
        return engine_->kind() == EngineKind::caffeinate
                   ? localizedFormat("Switched to caffeinate: %@",
                                     {firstError.localizedDescription()})
                   : localizedFormat("Switched to logind inhibitor locks: %@",
                                     {firstError.localizedDescription()});
    });
    return true;
}

void OrvelController::watchFailures(SleepEngine& watched) {
    watched.onFailure = [weakSelf = weakRef(*this),
                         run = engineRun_ + 1](const SleepEngineError& error) {
        // Only a failure of the running start counts; an earlier run has been stopped already.
        if (auto* self = weakSelf.get(); self != nullptr && self->engineRun_ == run) {
            self->engineFailed(error);
        }
    };
    watched.onDisplayLost = [weakSelf = weakRef(*this),
                             run = engineRun_ + 1](const SleepEngineError& error) {
        if (auto* self = weakSelf.get(); self != nullptr && self->engineRun_ == run) {
            self->setLastError([&] {
                return localizedFormat(
                    "The display is not held awake; the rest of the session holds. %@",
                    {error.localizedDescription()});
            });
        }
    };
}

// The system took back a hold of the running session: go on with the other engine, or end the
// session and say why, rather than show a session that holds nothing. A caffeinate child that
// failed ends its session: the user chose that program, and what it said is why.
void OrvelController::engineFailed(const SleepEngineError& error) {
    if (!isActive()) {
        return;
    }
    if (error.kind == SleepEngineError::Case::childFailed) {
        setLastError([&] { return error.localizedDescription(); });
        endNaturally();
        ActivityLog::add(ActivityEntry::make(ActivityEntry::Kind::ended,
                                             error.localizedDescription(),
                                             localized("Ended session \u2014 caffeinate engine")));
        failed(error.localizedDescription());
        return;
    }
    if (!startOtherEngine(effectiveOptions(), error)) {
        endNaturally();
        failed(lastError().value_or(error.localizedDescription()));
    }
}

void OrvelController::failed(const std::string& why) {
    failure = why;
    notifyUser(notifications_, localized("Orvel could not keep this computer awake"), why);
}

SessionRequest OrvelController::currentRequest() const {
    SessionRequest request;
    request.ruleName = startedByRuleName();
    request.ruleID = triggerOwnedRuleID_;
    if (deadline_) {
        request.end = SessionRequest::End::at;
        request.deadline = deadline_;
    } else if (triggerOwnedRuleID_) {
        // A rule's session never gets the preset's deadline.
        request.end = SessionRequest::End::never;
    }
    if (watchedPID_) {
        request.watchedApp = WatchedApplication{*watchedPID_, watchedBundleID_, watchedAppName()};
    }
    if (neighbours_.oneOffWatch) {
        request.oneOffBundleID = neighbours_.oneOffWatch().watchedOneOff();
    }
    return request;
}

void OrvelController::setLastError(const std::function<std::string()>& words) {
    lastErrorInEnglish_ = inEnglish(words);
    lastError = words();
}

void OrvelController::clearLastError() {
    lastErrorInEnglish_.reset();
    lastError = std::nullopt;
}

bool OrvelController::start() {
    return start(currentRequest());
}

bool OrvelController::start(const SessionRequest& request) {
    clearLastError();
    failure = std::nullopt;
    batteryOffTimer_.cancel();
    if (neighbours_.powerSafety) {
        if (auto reason = neighbours_.powerSafety().blockReason()) {
            setLastError([&] { return localized(*reason); });
            return false;
        }
    }
    std::optional<Date> until;
    switch (request.end) {
        case SessionRequest::End::preset:
            until = deadlineForPreset(preset());
            break;
        case SessionRequest::End::never:
            break;
        case SessionRequest::End::at:
            until = request.deadline;
            break;
    }
    const std::optional<std::int32_t> pid =
        request.watchedApp ? std::optional<std::int32_t>(request.watchedApp->processIdentifier)
                           : std::nullopt;
    if (!startEngine(effectiveOptionsFor(until, pid))) {
        // A restart that fails leaves nothing held: the session ends rather than looking active.
        if (isActive()) {
            endNaturally();
        }
        failed(lastError().value_or(""));
        return false;
    }
    // The engine holds: from here on the session is the one asked for.
    startedByRuleName = request.ruleName;
    triggerOwnedRuleID_ = request.ruleID;
    deadline_ = until;
    watchedPID_ = pid;
    watchedBundleID_ = request.watchedApp ? request.watchedApp->bundleIdentifier : std::nullopt;
    watchedAppName = request.watchedApp ? request.watchedApp->localizedName : std::nullopt;
    if (neighbours_.oneOffWatch) {
        OneOffWatch& apps = neighbours_.oneOffWatch();
        if (apps.watchedOneOff() != request.oneOffBundleID) {
            if (request.oneOffBundleID) {
                apps.watchOneOff(*request.oneOffBundleID);
            } else {
                apps.clearOneOff();
            }
        }
    }
    isActive = true;
    for (const auto& participant : neighbours_.participants) {
        participant().sessionHolding();
    }
    updateRemaining();
    startTicker();
    saveSession();
    refreshLocks();
    for (const auto& participant : neighbours_.participants) {
        participant().sessionStarted();
    }
    return true;
}

void OrvelController::stop(bool persist) {
    const std::optional<UUID> owner = triggerOwnedRuleID_;
    const bool natural = endingNaturally_;
    engine_->stop();
    ++engineRun_;
    isActive = false;
    deadline_.reset();
    secondsRemaining = 0;
    if (neighbours_.oneOffWatch) {
        neighbours_.oneOffWatch().clearOneOff();
    }
    watchedPID_.reset();
    watchedBundleID_.reset();
    watchedAppName = std::nullopt;
    startedByRuleName = std::nullopt;
    triggerOwnedRuleID_.reset();
    frozenTriggerRemaining_.reset();
    stopClock();
    refreshLocks();
    if (persist && preset() == DurationPreset::untilAppQuits) {
        preset = unwatched(preset(), prefs_.defaultPreset());  // saved as it is set
    } else if (persist) {
        saveSession();
    }
    const SessionEnd end{owner, !natural};
    for (const auto& participant : neighbours_.participants) {
        participant().sessionStopped(end);
    }
}

void OrvelController::endNaturally() {
    endingNaturally_ = true;
    stop(true);
    endingNaturally_ = false;
}

void OrvelController::startFromTrigger(const std::string& ruleName, const UUID& ruleID,
                                       std::int64_t seconds) {
    SessionRequest request = currentRequest();
    request.ruleName = ruleName;
    request.ruleID = ruleID;
    request.endAfter(now(), seconds);
    start(request);
}

void OrvelController::endFromTrigger() {
    if (!triggerOwnedRuleID_) {
        return;
    }
    endNaturally();
}

void OrvelController::startForSeconds(std::optional<std::int64_t> seconds) {
    // A resume with nothing left has nothing to resume.
    if (seconds && *seconds <= 0) {
        return;
    }
    SessionRequest request = currentRequest();
    request.endAfter(now(), seconds.value_or(0));
    start(request);
}

void OrvelController::startOnAC() {
    SessionRequest request = currentRequest();
    request.endAfter(now(), prefs_.acAutoSeconds());
    start(request);
}

void OrvelController::checkACAutoStart() {
    if (prefs_.activateOnAC() && isOnACPower(powerSources_) && !isActive() && !powerBlockReason()) {
        startOnAC();
    }
}

std::optional<Date> OrvelController::deadlineForPreset(DurationPreset forPreset) const {
    if (auto seconds = fixedSeconds(forPreset)) {
        return now() + static_cast<double>(*seconds);
    }
    if (forPreset == DurationPreset::custom && prefs_.customSeconds() > 0) {
        return now() + static_cast<double>(prefs_.customSeconds());
    }
    return std::nullopt;
}

void OrvelController::selectPreset(DurationPreset newPreset) {
    preset = newPreset;
    if (!isActive()) {
        return;
    }
    deadline_ = deadlineForPreset(newPreset);
    reapplyOptions();
    updateRemaining();
    startTicker();
    saveSession();
}

void OrvelController::watchApp(const RunningApplication& app) {
    const DurationPreset before = preset();
    preset = DurationPreset::untilAppQuits;
    SessionRequest request = currentRequest();
    request.end = SessionRequest::End::preset;
    request.deadline.reset();
    request.watchedApp =
        WatchedApplication{app.processIdentifier, app.bundleIdentifier, app.localizedName};
    if (app.bundleIdentifier) {
        request.oneOffBundleID = app.bundleIdentifier;
    }
    if (!start(request) && !isActive()) {
        preset = unwatched(before, prefs_.defaultPreset());
    }
}

void OrvelController::reapplyOptions() {
    if (!isActive()) {
        return;
    }
    engine_->stop();
    if (!startEngine(effectiveOptions())) {
        // Nothing holds the machine awake any more: say why and end the session.
        endNaturally();
        failed(lastError().value_or(""));
        return;
    }
    refreshLocks();
}

void OrvelController::setOption(bool SleepOptions::*field, bool value) {
    SleepOptions changed = options();
    changed.*field = value;
    options = changed;
}

bool OrvelController::stopPreventingDiskSleep() {
    SleepOptions changed = options();
    if (!changed.preventDiskSleep) {
        return false;
    }
    changed.preventDiskSleep = false;
    options = changed;
    return true;
}

void OrvelController::refreshLocks() {
    std::vector<std::string> stopped;
    if (isActive()) {
        for (std::string_view type : effectiveOptions().assertionTypes()) {
            for (auto& name : powerAssertions_.stoppedServices(type)) {
                if (std::find(stopped.begin(), stopped.end(), name) == stopped.end()) {
                    stopped.push_back(std::move(name));
                }
            }
        }
    }
    if (stopped == stoppedServices_) {
        return;
    }
    const std::vector<std::string> before = std::exchange(stoppedServices_, stopped);
    if (stopped.empty()) {
        locksGone = std::nullopt;
    } else {
        locksGone = localizedPlural(
            "Sleep locks gone: %@ is not running; they are taken again when it returns.",
            "Sleep locks gone: %@ are not running; they are taken again when they return.",
            static_cast<std::int64_t>(stopped.size()), {joinedNames(stopped)});
    }
    // A session that ends takes its locks with it: nothing to tell.
    if (!isActive()) {
        return;
    }
    if (before.empty()) {
        ActivityLog::add(ActivityEntry::make(ActivityEntry::Kind::info,
                                             localized("Sleep locks gone"), *locksGone()));
    } else if (stopped.empty()) {
        ActivityLog::add(ActivityEntry::make(
            ActivityEntry::Kind::info, localized("Sleep locks taken again"),
            localizedPlural("%@ is running again.", "%@ are running again.",
                            static_cast<std::int64_t>(before.size()), {joinedNames(before)})));
    }
}

std::string OrvelController::statusText() const {
    if (isActive()) {
        if (locksGone()) {
            return *locksGone();
        }
        if (preset() == DurationPreset::untilAppQuits && watchedAppName()) {
            return localizedFormat("Until %@ quits", {*watchedAppName()});
        }
        const SleepOptions effective = effectiveOptions();
        std::string parts;
        const auto add = [&parts](bool on, const char* part) {
            if (on) {
                parts += (parts.empty() ? "" : ", ") + localized(part);
            }
        };
        add(effective.preventDisplaySleep, textKey("display sleep"));
        add(effective.preventIdleSleep, textKey("idle sleep"));
        add(effective.preventDiskSleep, textKey("disk sleep"));
        add(effective.preventSystemSleep, textKey("system sleep"));
        if (parts.empty()) {
            return localized("Idle sleep prevented");
        }
        return localizedFormat("%@ prevented", {parts});
    }
    if (powerBlockReason()) {
        return *powerBlockReason();
    }
    if (failure()) {
        return *failure();
    }
    const std::string normal = localized("Your computer will sleep on its normal schedule.");
    if (preset() == DurationPreset::indefinite) {
        return normal;
    }
    return localizedFormat("%@ \u00B7 %@ when started", {normal, label(preset())});
}

void OrvelController::appTerminated(const RunningApplication& app) {
    if (!isActive() || preset() != DurationPreset::untilAppQuits) {
        return;
    }
    if (watchedPID_ && *watchedPID_ == app.processIdentifier) {
        endSession();
        return;
    }
    // An application without a bundle identifier can only be matched by its process.
    if (app.bundleIdentifier && watchedBundleID_ == app.bundleIdentifier) {
        endSession();
    }
}

void OrvelController::endIfUntilAppQuits() {
    if (isActive() && preset() == DurationPreset::untilAppQuits) {
        endSession();
    }
}

// Power rules --------------------------------------------------------------------------------

void OrvelController::powerTick() {
    const bool onAC = isOnACPower(powerSources_);
    if (onAC == isOnAC()) {
        return;
    }
    isOnAC = onAC;
    batteryOffTimer_.cancel();
    if (onAC) {
        if (prefs_.activateOnAC()) {
            startOnAC();
            return;
        }
    } else {
        if (prefs_.activateOnAC() && isActive()) {
            stop(true);
        }
        if (prefs_.deactivateOnBattery() && isActive()) {
            const std::int64_t delay = prefs_.batteryOffSeconds();
            if (prefs_.batteryOffAfterEnabled() && delay > 0) {
                batteryOffTimer_ =
                    RunLoop::main().after(static_cast<double>(delay), [weakSelf = weakRef(*this)] {
                        if (auto* self = weakSelf.get()) {
                            self->batteryOffFired();
                        }
                    });
            } else {
                batteryOffFired();
            }
        }
    }
    if (isActive() && options().preventSystemSleep) {
        reapplyOptions();
    }
}

void OrvelController::batteryOffFired() {
    batteryOffTimer_ = Timer();
    refreshRemaining();
    PowerSafety* safety = neighbours_.powerSafety ? &neighbours_.powerSafety() : nullptr;
    if (isOnACPower(powerSources_) || !isActive() || (safety != nullptr && safety->runsOnUPS())) {
        return;
    }
    const std::optional<std::int64_t> remaining =
        secondsRemaining() > 0 ? std::optional<std::int64_t>(secondsRemaining()) : std::nullopt;
    endNaturally();
    if (safety != nullptr) {
        if (prefs_.battRecover()) {
            safety->keepForResume(remaining);
        }
        safety->refreshNotice();
    }
    notifyUser(notifications_, localized("Orvel ended"),
               localized("Turned off \u2014 the computer is on battery."));
    ActivityLog::add(ActivityEntry::make(
        ActivityEntry::Kind::info, localized("Turned off \u2014 on battery"),
        prefs_.batteryOffAfterEnabled()
            ? localized("Battery/Power trigger, after the configured time on battery")
            : localized("Battery/Power trigger")));
}

// Saved session --------------------------------------------------------------------------------

void OrvelController::saveSession() {
    prefs_.saveSession(SavedSession{isActive() && !triggerOwnedRuleID_, options(), preset(),
                                    deadline_, watchedBundleID_});
}

void OrvelController::restoreSession() {
    // A session started before the first loop turn is not replaced by an older one.
    if (isActive() || !prefs_.restoreSession()) {
        return;
    }
    const std::optional<SavedSession> saved = prefs_.loadSession();
    if (!saved) {
        return;
    }
    options = saved->options;
    // The saved deadline is never used: the preset gives a fresh one from now.
    SessionRequest request;
    const bool waits = saved->preset == DurationPreset::untilAppQuits;
    if (waits && saved->wasActive && saved->watchBundleID) {
        const auto apps = workspace_.runningApplicationsKnownAs({*saved->watchBundleID});
        if (const auto it = apps.begin(); it != apps.end()) {
            request.watchedApp =
                WatchedApplication{it->processIdentifier, saved->watchBundleID, it->localizedName};
            request.oneOffBundleID = saved->watchBundleID;
        }
    }
    preset = request.watchedApp ? saved->preset : unwatched(saved->preset, prefs_.defaultPreset());
    if (!saved->wasActive) {
        return;
    }
    if (waits && !request.watchedApp) {
        prefs_.saveSession(std::nullopt);
        return;
    }
    start(request);
}

void OrvelController::setPowerBlockReason(std::optional<std::string> reason) {
    powerBlockReason = std::move(reason);
}

}  // namespace orvel
