#pragma once

#include <functional>
#include <string>

// User notifications. Threading: requestAuthorization() on the main thread, its completion on a
// thread of the backend's choosing; add() from any thread.

namespace orvel {

// Authorization options.
inline constexpr unsigned kNotificationAlert = 4;

struct NotificationRequest {
    std::string identifier;
    std::string title;
    std::string body;
};

class Notifications {
  public:
    virtual ~Notifications() = default;

    // Asks for permission to post (the user may be asked once); calls completion with the
    // answer.
    virtual void requestAuthorization(unsigned options,
                                      std::function<void(bool granted)> completion) = 0;
    // Shows a notification at once.
    virtual void add(const NotificationRequest& request) = 0;
};

}  // namespace orvel
