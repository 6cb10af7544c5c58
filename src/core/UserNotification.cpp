#include "core/UserNotification.h"

#include "foundation/UUID.h"
#include "platform/Notifications.h"
#include "platform/Platform.h"

namespace orvel {

void notifyUser(const std::string& title, const std::string& body) {
    Platform::current().notifications().requestAuthorization(
        kNotificationAlert,
        [title, body](bool granted) { postUserNotification(granted, title, body); });
}

void postUserNotification(bool granted, const std::string& title, const std::string& body) {
    if (!granted) {
        return;
    }
    Platform::current().notifications().add(
        NotificationRequest{UUID::random().uuidString(), title, body});
}

}  // namespace orvel
