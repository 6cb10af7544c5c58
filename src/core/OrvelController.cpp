#include "core/OrvelController.h"

#include <algorithm>
#include <cstdio>

#include "core/ActivityLog.h"
#include "core/Preferences.h"
#include "devices/DeviceState.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Localization.h"
#include "foundation/Registry.h"
#include "menubar/StatusItemController.h"
#include "platform/Notifications.h"
#include "platform/Platform.h"
#include "platform/Processes.h"
#include "platform/Workspace.h"
#include "triggers/AppTriggerSource.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "triggers/UserNotification.h"

namespace orvel {

namespace {

constexpr double kClockInterval = 1.0;
constexpr double kPowerTickInterval = 5.0;

bool isCaffeinate(const SleepEngine& engine) {
    return dynamic_cast<const CaffeinateEngine*>(&engine) != nullptr;
}

// Asks for permission to post and, when granted, posts. The texts are made here, on the main
// thread; the completion may run on another.
void notifyUser(const std::string& title, const std::string& body) {
    Platform::current().notifications().requestAuthorization(
        kNotificationAlert,
        [title, body](bool granted) { postUserNotification(granted, title, body); });
}

}  // namespace

OrvelController& OrvelController::shared() {
    return ORVEL_SHARED_INSTANCE(OrvelController);
}

OrvelController::OrvelController()
    : isOnAC(*this, PowerTriggerCenter::isOnACPower()),
      options(*this, SleepOptions{},
              [this] {
                  saveSession();
                  reapplyOptions();
              }),
      preset(*this, Preferences::shared().defaultPreset(), [this] { saveSession(); }),
      prefs(Preferences::shared()),
      engine(AssertionEngine::make()) {
    configureEngine(std::nullopt);

    Workspace& workspace = Platform::current().workspace();
    bag_.push_back(workspace.willSleep.subscribe([this] { willSleep(); }));
    bag_.push_back(workspace.didWake.subscribe([this] { didWake(); }));
    bag_.push_back(workspace.didTerminateApplication.subscribe(
        [this](const RunningApplication& app) { appTerminated(app); }));

    // Later values only: the current engine was just configured.
    bag_.push_back(prefs.engine.subscribe([this](const EngineKind& kind) { engineChanged(kind); }));

    WeakRef<OrvelController> weakSelf = weakRef(*this);
    powerTicker_ = RunLoop::main().every(kPowerTickInterval, [weakSelf] {
        if (auto* self = weakSelf.get()) {
            self->powerTick();
        }
    });
    RunLoop::main().async([weakSelf] {
        if (auto* self = weakSelf.get()) {
            self->restoreSession();
        }
    });
}

OrvelController::~OrvelController() = default;

// Engine choice ---------------------------------------------------------------------------------

void OrvelController::configureEngine(std::optional<EngineKind> kind) {
    const EngineKind chosen = kind.value_or(prefs.engine());
    if (chosen == EngineKind::caffeinate &&
        Platform::current().processes().isExecutableFile(kCaffeinatePath)) {
        engine = CaffeinateEngine::make();
    } else {
        engine = AssertionEngine::make();
    }
    engineName = engine->name();
}

void OrvelController::engineChanged(EngineKind kind) {
    const bool wasActive = isActive();
    stop(false);
    configureEngine(kind);
    if (wasActive) {
        start();
    }
    refreshStatusItem();
}

SleepOptions OrvelController::effectiveOptions() const {
    SleepOptions effective = options();
    if (!isOnAC()) {
        effective.preventSystemSleep = false;  // system sleep is prevented only on AC power
    }
    effective.timeout =
        deadline ? std::max<std::int64_t>(0, roundedSeconds(deadline->timeIntervalSince(now())))
                 : 0;
    effective.watchPID = isCaffeinate(*engine) && preset() == DurationPreset::untilAppQuits
                             ? watchedPID
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
    watchFailures(*engine);
    auto first = engine->start(effective, exitHandler());
    if (first.ok()) {
        return true;
    }
    return startOtherEngine(effective, first.error());
}

bool OrvelController::startOtherEngine(const SleepOptions& effective,
                                       const SleepEngineError& firstError) {
    std::shared_ptr<SleepEngine> other;
    if (isCaffeinate(*engine)) {
        other = AssertionEngine::make();
    } else {
        other = CaffeinateEngine::make();
    }
    watchFailures(*other);
    SleepOptions withoutWatch = effective;
    withoutWatch.watchPID.reset();
    auto second = other->start(withoutWatch, exitHandler());
    if (!second.ok()) {
        lastError = second.error().localizedDescription();
        return false;
    }
    engine = std::move(other);
    engineName = engine->name();
    lastError = "Switched to " + engine->name() + ": " + firstError.localizedDescription();
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
}

// The system took back a hold of the running session: go on with the other engine, or end the
// session and say why, rather than show a session that holds nothing.
void OrvelController::engineFailed(const SleepEngineError& error) {
    if (!isActive()) {
        return;
    }
    if (!startOtherEngine(effectiveOptions(), error)) {
        endNaturally();
    }
    refreshStatusItem();
}

bool OrvelController::start() {
    lastError = std::nullopt;
    batteryOffTimer_.cancel();
    if (auto reason = PowerTriggerCenter::shared().blockReason()) {
        lastError = *reason;
        return false;
    }
    const bool derivesDeadline = !deadline && !triggerOwnedRuleID && !skipPresetDeadline;
    if (derivesDeadline) {
        deadline = deadlineForPreset(preset());
    }
    if (!startEngine(effectiveOptions())) {
        // The preset's deadline counts from a start that holds, not from this refusal.
        if (derivesDeadline) {
            deadline.reset();
        }
        // A restart that fails leaves nothing held: the session ends rather than looking active.
        if (isActive()) {
            endNaturally();
        }
        return false;
    }
    isActive = true;
    DriveKeepAlive::shared().sessionActive = true;
    updateRemaining();
    startTicker();
    saveSession();
    DeviceState::shared().reconcile();
    refreshStatusItem();
    PowerTriggerCenter& center = PowerTriggerCenter::shared();
    center.pending.reset();
    center.refreshNotice();
    return true;
}

void OrvelController::stop(bool persist) {
    const std::optional<UUID> owner = triggerOwnedRuleID;
    const bool natural = endingNaturally;
    engine->stop();
    ++engineRun_;
    isActive = false;
    deadline.reset();
    secondsRemaining = 0;
    AppTriggerSource& apps = AppTriggerSource::shared();
    if (apps.oneOffBundleID) {
        apps.oneOffBundleID.reset();
        apps.oneOffIsBackground = false;
        apps.updatePolling();
        apps.stopIfIdle();
    }
    watchedPID.reset();
    watchedBundleID.reset();
    watchedAppName = std::nullopt;
    startedByRuleName = std::nullopt;
    triggerOwnedRuleID.reset();
    frozenTriggerRemaining.reset();
    ticker_.cancel();
    if (persist) {
        saveSession();
    }
    DeviceState::shared().reconcile();
    DriveKeepAlive::shared().sessionActive = false;
    refreshStatusItem();
    TriggerEngine::shared().sessionEnded(owner, !natural);
    PowerTriggerCenter& center = PowerTriggerCenter::shared();
    if (!natural) {
        center.pending.reset();
    }
    center.refreshNotice();
}

void OrvelController::endNaturally() {
    endingNaturally = true;
    stop(true);
    endingNaturally = false;
}

OrvelController::CallerFields OrvelController::callerFields() const {
    return CallerFields{startedByRuleName(),
                        triggerOwnedRuleID,
                        deadline,
                        watchedPID,
                        watchedBundleID,
                        watchedAppName(),
                        AppTriggerSource::shared().oneOffBundleID};
}

// A refused start must not leave its caller's fields behind for the next manual start: an idle
// controller clears them, a running session gets its own back.
void OrvelController::restoreCallerFields(const CallerFields& before) {
    const CallerFields fields = isActive() ? before : CallerFields{};
    startedByRuleName = fields.startedByRuleName;
    triggerOwnedRuleID = fields.triggerOwnedRuleID;
    deadline = fields.deadline;
    watchedPID = fields.watchedPID;
    watchedBundleID = fields.watchedBundleID;
    watchedAppName = fields.watchedAppName;
    AppTriggerSource& apps = AppTriggerSource::shared();
    if (apps.oneOffBundleID != fields.oneOffBundleID) {
        if (fields.oneOffBundleID) {
            apps.watchOneOff(*fields.oneOffBundleID);
        } else {
            apps.oneOffBundleID.reset();
            apps.oneOffIsBackground = false;
            apps.updatePolling();
            apps.stopIfIdle();
        }
    }
}

void OrvelController::startFromTrigger(const std::string& ruleName, const UUID& ruleID,
                                       std::int64_t seconds) {
    const CallerFields before = callerFields();
    startedByRuleName = ruleName;
    triggerOwnedRuleID = ruleID;
    deadline =
        seconds > 0 ? std::optional<Date>(now() + static_cast<double>(seconds)) : std::nullopt;
    if (!start()) {
        restoreCallerFields(before);
    }
}

void OrvelController::endFromTrigger() {
    if (!triggerOwnedRuleID) {
        return;
    }
    endNaturally();
}

void OrvelController::startForSeconds(std::optional<std::int64_t> seconds) {
    // A resume with nothing left has nothing to resume.
    if (seconds && *seconds <= 0) {
        return;
    }
    const CallerFields before = callerFields();
    skipPresetDeadline = true;
    deadline = seconds ? std::optional<Date>(now() + static_cast<double>(*seconds)) : std::nullopt;
    const bool started = start();
    skipPresetDeadline = false;
    if (!started) {
        restoreCallerFields(before);
    }
}

void OrvelController::startOnAC() {
    const CallerFields before = callerFields();
    skipPresetDeadline = true;
    const std::int64_t seconds = prefs.acAutoSeconds();
    deadline =
        seconds > 0 ? std::optional<Date>(now() + static_cast<double>(seconds)) : std::nullopt;
    const bool started = start();
    skipPresetDeadline = false;
    if (!started) {
        restoreCallerFields(before);
    }
}

void OrvelController::checkACAutoStart() {
    if (prefs.activateOnAC() && PowerTriggerCenter::isOnACPower() && !isActive() &&
        !powerBlockReason()) {
        startOnAC();
    }
}

std::optional<Date> OrvelController::deadlineForPreset(DurationPreset forPreset) const {
    if (auto seconds = fixedSeconds(forPreset)) {
        return now() + static_cast<double>(*seconds);
    }
    if (forPreset == DurationPreset::custom && prefs.customSeconds() > 0) {
        return now() + static_cast<double>(prefs.customSeconds());
    }
    return std::nullopt;
}

void OrvelController::selectPreset(DurationPreset newPreset) {
    preset = newPreset;
    if (!isActive()) {
        return;
    }
    deadline = deadlineForPreset(newPreset);
    reapplyOptions();
    updateRemaining();
    startTicker();
    saveSession();
    refreshStatusItem();
}

void OrvelController::watchApp(const RunningApplication& app) {
    const CallerFields before = callerFields();
    preset = DurationPreset::untilAppQuits;
    deadline.reset();
    watchedPID = app.processIdentifier;
    watchedBundleID = app.bundleIdentifier;
    watchedAppName = app.localizedName;
    if (app.bundleIdentifier) {
        AppTriggerSource::shared().watchOneOff(*app.bundleIdentifier);
    }
    if (!start()) {
        restoreCallerFields(before);
    }
}

void OrvelController::reapplyOptions() {
    if (!isActive()) {
        return;
    }
    engine->stop();
    if (!startEngine(effectiveOptions())) {
        // Nothing holds the machine awake any more: say why and end the session.
        endNaturally();
    }
    refreshStatusItem();
}

std::string OrvelController::statusText() const {
    if (isActive()) {
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
        add(effective.preventDisplaySleep, "display sleep");
        add(effective.preventIdleSleep, "idle sleep");
        add(effective.preventDiskSleep, "disk sleep");
        add(effective.preventSystemSleep, "system sleep");
        if (parts.empty()) {
            return localized("Idle sleep prevented");
        }
        return localizedFormat("%@ prevented", {parts});
    }
    if (powerBlockReason()) {
        return *powerBlockReason();
    }
    const std::string normal = localized("Your Mac will sleep on its normal schedule.");
    if (preset() == DurationPreset::indefinite) {
        return normal;
    }
    return localizedFormat("%@ \u00B7 %@ when started", {normal, label(preset())});
}

std::string OrvelController::formatRemaining() const {
    if (!isActive()) {
        return "";
    }
    const std::int64_t s = secondsRemaining();
    if (s < 1) {
        return "\u221E";
    }
    char buffer[32];
    if (s < 3600) {
        std::snprintf(buffer, sizeof buffer, "%02lld:%02lld", static_cast<long long>(s / 60),
                      static_cast<long long>(s % 60));
    } else {
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                      static_cast<long long>(s % 3600 / 60), static_cast<long long>(s % 60));
    }
    return buffer;
}

// The clock ----------------------------------------------------------------------------------

void OrvelController::updateRemaining() {
    if (!deadline) {
        secondsRemaining = 0;
        return;
    }
    const std::int64_t r = roundedSeconds(deadline->timeIntervalSince(now()));
    secondsRemaining = std::max<std::int64_t>(r, 0);
    if (r > 0) {
        refreshStatusItem();
    } else {
        endSession();
    }
}

void OrvelController::startTicker() {
    ticker_.cancel();
    if (!deadline) {
        return;
    }
    ticker_ = RunLoop::main().every(kClockInterval, [weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->updateRemaining();
        }
    });
}

void OrvelController::endSession() {
    const bool announce = deadline.has_value() || preset() == DurationPreset::untilAppQuits;
    const bool bySleep = endedBySleep;
    endedBySleep = false;
    endNaturally();
    if (!announce || !prefs.notifyOnEnd()) {
        return;
    }
    if (bySleep) {
        notifyUser(localized("Orvel stopped"),
                   localized("The timed session ended when your Mac went to sleep."));
    } else {
        notifyUser(localized("Orvel finished"), localized("Your Mac can sleep normally again."));
    }
}

// Sleep and wake -----------------------------------------------------------------------------

void OrvelController::willSleep() {
    if (!isActive()) {
        return;
    }
    if (triggerOwnedRuleID) {
        if (deadline) {
            // The rule's session keeps its remainder over sleep.
            frozenTriggerRemaining = secondsRemaining();
            deadline.reset();
            ticker_.cancel();
        }
        return;
    }
    if (deadline) {
        endedBySleep = true;
        endSession();
    }
}

void OrvelController::didWake() {
    if (!isActive() || deadline) {
        return;
    }
    if (prefs.reassertOnWake() || triggerOwnedRuleID) {
        reapplyOptions();
    }
    if (frozenTriggerRemaining) {
        deadline = now() + static_cast<double>(*frozenTriggerRemaining);
        frozenTriggerRemaining.reset();
        reapplyOptions();
        updateRemaining();
        startTicker();
    }
}

void OrvelController::appTerminated(const RunningApplication& app) {
    if (!isActive() || preset() != DurationPreset::untilAppQuits) {
        return;
    }
    if (watchedPID && *watchedPID == app.processIdentifier) {
        endSession();
        return;
    }
    // An application without a bundle identifier can only be matched by its process.
    if (app.bundleIdentifier && watchedBundleID == app.bundleIdentifier) {
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
    const bool onAC = PowerTriggerCenter::isOnACPower();
    if (onAC == isOnAC()) {
        return;
    }
    isOnAC = onAC;
    batteryOffTimer_.cancel();
    if (onAC) {
        if (prefs.activateOnAC()) {
            startOnAC();
            return;
        }
    } else {
        if (prefs.activateOnAC() && isActive()) {
            stop(true);
        }
        if (prefs.deactivateOnBattery() && isActive()) {
            const std::int64_t delay = prefs.batteryOffSeconds();
            if (prefs.batteryOffAfterEnabled() && delay > 0) {
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
    PowerTriggerCenter& center = PowerTriggerCenter::shared();
    if (PowerTriggerCenter::isOnACPower() || !isActive() || center.onUPS) {
        return;
    }
    const std::optional<std::int64_t> remaining =
        secondsRemaining() > 0 ? std::optional<std::int64_t>(secondsRemaining()) : std::nullopt;
    endNaturally();
    if (prefs.battRecover()) {
        center.pending = PowerTriggerCenter::Pending{remaining};
        center.addHold("mac", "Mac battery");
    }
    center.refreshNotice();
    notifyUser(localized("Orvel ended"), localized("Turned off \u2014 the Mac is on battery."));
    ActivityLog::add(
        ActivityEntry::make(ActivityEntry::Kind::info, "Turned off \u2014 on battery",
                            prefs.batteryOffAfterEnabled()
                                ? "Battery/Power trigger, after the configured time on battery"
                                : "Battery/Power trigger"));
}

// Saved session --------------------------------------------------------------------------------

void OrvelController::saveSession() {
    prefs.saveSession(SavedSession{isActive() && !triggerOwnedRuleID, options(), preset(), deadline,
                                   watchedBundleID});
}

void OrvelController::restoreSession() {
    // A session started before the first loop turn is not replaced by an older one.
    if (isActive() || !prefs.restoreSession()) {
        return;
    }
    const std::optional<SavedSession> saved = prefs.loadSession();
    if (!saved) {
        return;
    }
    options = saved->options;
    preset = saved->preset;
    if (!saved->wasActive) {
        return;
    }
    // The saved deadline is never used: the preset gives a fresh one from now.
    if (saved->deadline) {
        deadline.reset();
    }
    const CallerFields before = callerFields();
    if (preset() == DurationPreset::untilAppQuits) {
        if (!saved->watchBundleID) {
            prefs.saveSession(std::nullopt);
            return;
        }
        const auto apps = Platform::current().workspace().runningApplications();
        auto it = std::find_if(apps.begin(), apps.end(), [&](const RunningApplication& app) {
            return app.bundleIdentifier == saved->watchBundleID;
        });
        if (it == apps.end()) {
            prefs.saveSession(std::nullopt);
            return;
        }
        watchedPID = it->processIdentifier;
        watchedBundleID = saved->watchBundleID;
        watchedAppName = it->localizedName;
        AppTriggerSource::shared().watchOneOff(*saved->watchBundleID);
    }
    if (!start()) {
        restoreCallerFields(before);
    }
}

void OrvelController::refreshStatusItem() {
    if (StatusItemController* item = StatusItemController::current()) {
        item->refresh();
    }
}

}  // namespace orvel
