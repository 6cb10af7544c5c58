#pragma once

#include <functional>
#include <string>

// User notifications. Threading: requestAuthorization() and authorizationStatus() on the main
// thread, their completions on a thread of the backend's choosing; add() from any thread.

namespace orvel {

// Authorization options.
inline constexpr unsigned kNotificationAlert = 4;

// Whether the program may post, by the platform's numbers; anything else reads as unknown.
enum class NotificationAuthorization : int {
    notDetermined = 0,
    denied = 1,
    authorized = 2,
    provisional = 3,
    unknown = -1,
};

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
    // Asks whether the program may post, without asking the user; calls completion once with
    // the answer, late or never when the system does not answer.
    virtual void authorizationStatus(std::function<void(NotificationAuthorization)> completion) = 0;
    // Shows a notification at once.
    virtual void add(const NotificationRequest& request) = 0;
};

}  // namespace orvel
