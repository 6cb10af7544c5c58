#pragma once

#include <string>

namespace orvel {

class Notifications;

// Asks for permission to post (alerts only) and, when granted, posts the notification. The texts
// are made by the caller on the main thread; the completion may run on another. A refusal is
// silent. Main thread.
void notifyUser(Notifications& notifications, const std::string& title, const std::string& body);

// Posts a notification at once with a new identifier, when `granted`; otherwise nothing. May be
// called from any thread (it runs in authorization completions).
void postUserNotification(Notifications& notifications, bool granted, const std::string& title,
                          const std::string& body);

}  // namespace orvel
