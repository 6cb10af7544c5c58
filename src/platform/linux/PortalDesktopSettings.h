#pragma once

#include <memory>

#include "foundation/Log.h"
#include "platform/DesktopSettings.h"
#include "platform/linux/DBusConnection.h"

namespace orvel {

// The desktop's colour scheme from the XDG settings portal (org.freedesktop.portal.Settings,
// "color-scheme" of "org.freedesktop.appearance") on the session bus: asked once at
// construction and followed through SettingChanged afterwards. Nothing waits for the answer;
// until it comes, and without a portal, the scheme is unknown. The portal's "no preference"
// counts as unknown too.
class PortalDesktopSettings final : public DesktopSettings {
  public:
    explicit PortalDesktopSettings(std::shared_ptr<DBusConnection> sessionBus);

    ColorScheme colorScheme() const override { return scheme_; }

  private:
    void read(const char* method);
    void take(sd_bus_message* reply, const char* method);
    void set(ColorScheme scheme);

    std::shared_ptr<DBusConnection> bus_;
    ColorScheme scheme_ = ColorScheme::unknown;
    DBusSlot changes_;
    DBusSlot reading_;
    Logger log_{"desktop"};
};

}  // namespace orvel
