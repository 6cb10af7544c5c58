#include "core/UserNotification.h"

#include "foundation/UUID.h"
#include "platform/Notifications.h"

namespace orvel {

void notifyUser(Notifications& notifications, const std::string& title, const std::string& body) {
    notifications.requestAuthorization(
        kNotificationAlert, [&notifications, title, body](bool granted) {
            postUserNotification(notifications, granted, title, body);
        });
}

void postUserNotification(Notifications& notifications, bool granted, const std::string& title,
                          const std::string& body) {
    if (!granted) {
        return;
    }
    notifications.add(NotificationRequest{UUID::random().uuidString(), title, body});
}

}  // namespace orvel
