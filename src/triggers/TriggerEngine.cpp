#include "triggers/TriggerEngine.h"

#include "core/ActivityLog.h"
#include "foundation/Registry.h"
#include "platform/Platform.h"
#include "platform/UserDefaults.h"

namespace orvel {

namespace {
constexpr const char* kPausedUntilKey = "trigger.pausedUntil";
constexpr double kTomorrowSeconds = 28800.0;
}  // namespace

TriggerEngine& TriggerEngine::shared() {
    return ORVEL_SHARED_INSTANCE(TriggerEngine);
}

void TriggerEngine::start() {
    started_ = true;
    started.send();
}

bool TriggerEngine::isPaused() const {
    const auto& until = pausedUntil();
    if (!until) {
        return false;
    }
    return until->isDistantFuture() || *until > RunLoop::main().now();
}

void TriggerEngine::pause(std::optional<double> seconds) {
    const Date until = seconds ? RunLoop::main().now() + *seconds : Date::distantFuture();
    pausedUntil = until;
    save();
    pauseTimer_.cancel();
    if (seconds) {
        // Common mode: a pause ends on time even while a menu or an alert is up.
        pauseTimer_ = RunLoop::main().after(
            *seconds,
            [weakSelf = weakRef(*this)] {
                if (auto* self = weakSelf.get()) {
                    self->resume();
                }
            },
            TimerMode::Common);
    }
    std::string detail = "Paused ";
    if (!seconds) {
        detail += "until re-enabled";
    } else if (*seconds >= kTomorrowSeconds) {
        detail += "until tomorrow";
    } else {
        detail += "for 1 hour";
    }
    ActivityLog::add(ActivityEntry::make(ActivityEntry::Kind::info, "Triggers paused", detail));
}

void TriggerEngine::resume() {
    pauseTimer_.cancel();
    if (!pausedUntil()) {
        return;
    }
    pausedUntil = std::nullopt;
    save();
    ActivityLog::add(ActivityEntry::make(ActivityEntry::Kind::info, "Triggers resumed"));
}

void TriggerEngine::save() {
    const auto& until = pausedUntil();
    double stored = 0.0;
    if (until) {
        stored = until->isDistantFuture() ? -1.0 : until->unixTime();
    }
    Platform::current().userDefaults().setDouble(kPausedUntilKey, stored);
}

void TriggerEngine::sessionEnded(std::optional<UUID> owner, bool manual) {
    sessionEndReported.send(owner, manual);
}

}  // namespace orvel
