// The session's clock: the deadline, the countdowns shown, and sleep and wake, which freeze or
// end a timed session.

#include "core/OrvelController.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/Preferences.h"
#include "core/UserNotification.h"
#include "foundation/Localization.h"

namespace orvel {

namespace {

// How long the wall clock may go unread while a session runs to a deadline.
constexpr double kDeadlineCheckInterval = 60.0;

}  // namespace

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

void OrvelController::updateRemaining() {
    if (!deadline_) {
        secondsRemaining = 0;
        return;
    }
    const std::int64_t r = roundedSeconds(deadline_->timeIntervalSince(now()));
    // The status item observes this value: each tick redraws the countdown.
    secondsRemaining = std::max<std::int64_t>(r, 0);
    if (r <= 0) {
        endSession();
    }
}

void OrvelController::refreshRemaining() {
    if (!deadline_) {
        return;
    }
    // Unchanged, it is not published again: nothing shown needs redrawing.
    const auto r = std::max<std::int64_t>(roundedSeconds(deadline_->timeIntervalSince(now())), 0);
    if (r != secondsRemaining()) {
        secondsRemaining = r;
    }
}

void OrvelController::stopClock() {
    ticker_.cancel();
    deadlineTimer_.cancel();
}

void OrvelController::startTicker() {
    stopClock();
    armDeadline();
    armTick();
}

void OrvelController::armDeadline() {
    if (!deadline_) {
        return;
    }
    const double left = std::max(0.0, deadline_->timeIntervalSince(now()));
    // The deadline is wall-clock time and the timer runs on the monotonic clock: a clock set
    // forward is caught at the next check, at most a minute away. A check before the deadline
    // publishes nothing, so that nothing is redrawn. Checks fall on whole minutes before the
    // deadline, where a countdown to the minute ticks too: one wake-up for both.
    double wait = std::fmod(left, kDeadlineCheckInterval);
    if (wait < 1e-6 && left > 0) {
        wait = kDeadlineCheckInterval;
    }
    deadlineTimer_ = RunLoop::main().after(wait, [weakSelf = weakRef(*this)] {
        auto* self = weakSelf.get();
        if (self == nullptr || !self->deadline_) {
            return;
        }
        if (roundedSeconds(self->deadline_->timeIntervalSince(now())) <= 0) {
            self->updateRemaining();
        } else {
            self->armDeadline();
        }
    });
}

void OrvelController::armTick() {
    if (!deadline_ || countdowns_.empty()) {
        return;
    }
    // Ticks fall where the shown value changes: on whole intervals before the deadline.
    const double left = std::max(0.0, deadline_->timeIntervalSince(now()));
    const double interval = *countdowns_.begin();
    double next = std::fmod(left, interval);
    if (next < 1e-6) {
        next = interval;
    }
    ticker_ = RunLoop::main().after(std::min(next, left), [weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->updateRemaining();
            if (self->isActive()) {
                self->armTick();
            }
        }
    });
}

Subscription OrvelController::showCountdown(double interval) {
    const auto it = countdowns_.insert(std::max(interval, 1.0));
    const bool faster = it == countdowns_.begin();
    refreshRemaining();
    if (faster && isActive()) {
        ticker_.cancel();
        armTick();
    }
    return Subscription([weakSelf = weakRef(*this), interval = *it] {
        auto* self = weakSelf.get();
        if (self == nullptr) {
            return;
        }
        self->countdowns_.erase(self->countdowns_.find(interval));
        if (self->countdowns_.empty() || *self->countdowns_.begin() > interval) {
            self->ticker_.cancel();
            if (self->isActive()) {
                self->armTick();
            }
        }
    });
}

void OrvelController::endSession() {
    const bool announce = deadline_.has_value() || preset() == DurationPreset::untilAppQuits;
    const bool bySleep = endedBySleep_;
    endedBySleep_ = false;
    endNaturally();
    if (!announce || !prefs_.notifyOnEnd()) {
        return;
    }
    if (bySleep) {
        notifyUser(notifications_, localized("Orvel stopped"),
                   localized("The timed session ended when your computer went to sleep."));
    } else {
        notifyUser(notifications_, localized("Orvel finished"),
                   localized("Your computer can sleep normally again."));
    }
}

void OrvelController::willSleep() {
    if (!isActive()) {
        return;
    }
    if (triggerOwnedRuleID_) {
        if (deadline_) {
            // The rule's session keeps its remainder over sleep.
            refreshRemaining();
            frozenTriggerRemaining_ = secondsRemaining();
            deadline_.reset();
            stopClock();
        }
        return;
    }
    if (deadline_) {
        endedBySleep_ = true;
        endSession();
    }
}

void OrvelController::didWake() {
    if (!isActive()) {
        return;
    }
    if (deadline_) {
        // The wall clock went on while the machine slept; the timers did not.
        updateRemaining();
        if (isActive()) {
            startTicker();
        }
        return;
    }
    if (prefs_.reassertOnWake() || triggerOwnedRuleID_) {
        reapplyOptions();
    }
    if (frozenTriggerRemaining_) {
        deadline_ = now() + static_cast<double>(*frozenTriggerRemaining_);
        frozenTriggerRemaining_.reset();
        reapplyOptions();
        updateRemaining();
        startTicker();
    }
}

}  // namespace orvel
