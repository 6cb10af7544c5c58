#pragma once

#include <memory>

#include "platform/Notifications.h"
#include "platform/linux/DBusConnection.h"

namespace orvel {

// Desktop notifications through org.freedesktop.Notifications on the session bus, posted as
// "Orvel". Authorization is granted while a notification service is there (running, or startable
// by the bus); without one it is refused, with one log line. The completion of
// requestAuthorization() runs on the main thread on a later turn of the loop (once the bus has
// said whether the service exists), never inside the call. add() may be called from any thread:
// the notification is posted from the main loop. A request whose identifier was posted before
// replaces that notification.
class LinuxNotifications final : public Notifications {
  public:
    explicit LinuxNotifications(std::shared_ptr<DBusConnection> sessionBus);
    ~LinuxNotifications() override;

    void requestAuthorization(unsigned options,
                              std::function<void(bool granted)> completion) override;
    // Authorized while a notification service is there, unknown otherwise; answered like
    // requestAuthorization().
    void authorizationStatus(std::function<void(NotificationAuthorization)> completion) override;
    void add(const NotificationRequest& request) override;

    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace orvel
