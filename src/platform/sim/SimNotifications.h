#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "foundation/RunLoop.h"
#include "platform/Notifications.h"

namespace orvel {

// Simulated notification centre: records what is posted. The authorization completion runs on a
// thread of its own (joined before requestAuthorization returns), as a real one may.
class SimNotifications final : public Notifications {
  public:
    void requestAuthorization(unsigned options,
                              std::function<void(bool granted)> completion) override;
    void add(const NotificationRequest& request) override;
    // Answered from the loop after the delay set (none: at once, on a later turn), or never.
    void authorizationStatus(std::function<void(NotificationAuthorization)> completion) override;

    // Control surface for tests.
    void setAuthorizationStatus(NotificationAuthorization status);
    // Seconds before the status query is answered; nothing: never answered.
    void setStatusDelay(std::optional<double> seconds);
    void setAuthorized(bool granted);
    std::vector<NotificationRequest> posted() const;
    std::size_t authorizationRequests() const;
    unsigned lastRequestedOptions() const;

  private:
    mutable std::mutex mutex_;
    bool granted_ = true;
    std::vector<NotificationRequest> posted_;
    std::size_t requests_ = 0;
    unsigned lastOptions_ = 0;
    NotificationAuthorization status_ = NotificationAuthorization::authorized;
    std::optional<double> statusDelay_ = 0.0;
    std::vector<Timer> statusAnswers_;
};

}  // namespace orvel
