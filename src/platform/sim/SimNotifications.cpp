#include "platform/sim/SimNotifications.h"

#include <thread>

namespace orvel {

void SimNotifications::requestAuthorization(unsigned options,
                                            std::function<void(bool granted)> completion) {
    bool granted = false;
    {
        std::lock_guard lock(mutex_);
        ++requests_;
        lastOptions_ = options;
        granted = granted_;
    }
    if (completion) {
        std::thread([&completion, granted] { completion(granted); }).join();
    }
}

void SimNotifications::add(const NotificationRequest& request) {
    std::lock_guard lock(mutex_);
    posted_.push_back(request);
}

void SimNotifications::authorizationStatus(
    std::function<void(NotificationAuthorization)> completion) {
    if (!completion || !statusDelay_) {
        return;
    }
    const auto status = status_;
    statusAnswers_.push_back(RunLoop::main().after(
        *statusDelay_, [completion, status] { completion(status); }, TimerMode::Common));
}

void SimNotifications::setAuthorizationStatus(NotificationAuthorization status) {
    status_ = status;
}

void SimNotifications::setStatusDelay(std::optional<double> seconds) {
    statusDelay_ = seconds;
}

void SimNotifications::setAuthorized(bool granted) {
    std::lock_guard lock(mutex_);
    granted_ = granted;
}

std::vector<NotificationRequest> SimNotifications::posted() const {
    std::lock_guard lock(mutex_);
    return posted_;
}

std::size_t SimNotifications::authorizationRequests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

unsigned SimNotifications::lastRequestedOptions() const {
    std::lock_guard lock(mutex_);
    return lastOptions_;
}

}  // namespace orvel
