#pragma once

#include <memory>
#include <string>

#include "foundation/Log.h"
#include "platform/DesktopSettings.h"
#include "platform/linux/DBusConnection.h"

namespace orvel {

// The desktop's colour scheme from the XDG settings portal (org.freedesktop.portal.Settings,
// "color-scheme" of "org.freedesktop.appearance") on the session bus: asked once at
// construction and followed through SettingChanged afterwards. Nothing waits for the answer;
// until it comes, and without a portal, the scheme is unknown. The portal's "no preference"
// counts as unknown too. Where the portal says nothing (no portal, none with a Settings
// interface, or no preference), the GTK settings under `configHome` decide when they say dark or
// light; see gtkColorScheme().
class PortalDesktopSettings final : public DesktopSettings {
  public:
    explicit PortalDesktopSettings(std::shared_ptr<DBusConnection> sessionBus,
                                   std::string configHome = "");

    // What <configHome>/gtk-3.0/settings.ini (else gtk-4.0's) says: dark for
    // gtk-application-prefer-dark-theme true or a gtk-theme-name ending in "-dark" or ":dark",
    // light when either key is set otherwise, unknown when neither is.
    static ColorScheme gtkColorScheme(const std::string& configHome);

    ColorScheme colorScheme() const override { return scheme_; }

  private:
    void read(const char* method);
    void take(sd_bus_message* reply, const char* method);
    void set(ColorScheme scheme);
    void setOrFallBack(ColorScheme fromPortal);

    std::shared_ptr<DBusConnection> bus_;
    std::string configHome_;
    ColorScheme scheme_ = ColorScheme::unknown;
    DBusSlot changes_;
    DBusSlot reading_;
    Logger log_{"desktop"};
};

}  // namespace orvel
