#pragma once

#include <memory>

#include "platform/AccessibilityDisplay.h"
#include "platform/linux/DBusConnection.h"

namespace orvel {

// The desktop's accessibility settings through the settings portal
// (org.freedesktop.portal.Settings) on the session bus: read once with ReadAll, then mirrored
// from SettingChanged, so reads never wait on the bus. GNOME's "high-contrast" is Increase
// Contrast and 13 × "text-scaling-factor" the body text size. Reduce Transparency and
// Differentiate Without Color have no desktop setting and read false. Without a portal (or a
// session bus) the standard values stay, with one log line.
class LinuxAccessibilityDisplay final : public AccessibilityDisplay {
  public:
    explicit LinuxAccessibilityDisplay(std::shared_ptr<DBusConnection> sessionBus);
    ~LinuxAccessibilityDisplay() override;

    bool shouldReduceTransparency() override { return false; }
    bool shouldIncreaseContrast() override;
    bool shouldDifferentiateWithoutColor() override { return false; }
    double bodyFontSize() override;
    // The portal tells of every setting it mirrors.
    bool announcesTextSizeChanges() const override { return true; }
    // org.a11y.Status's ScreenReaderEnabled on the AT-SPI bus launcher, mirrored from its
    // PropertiesChanged; off until it answers and where there is none.
    bool screenReaderEnabled() override;

    // Whether the portal's first answer has come (or it is known that none will).
    bool hasAnswered() const;

    struct State;

  private:
    void followScreenReader();

    std::shared_ptr<State> state_;
};

}  // namespace orvel
