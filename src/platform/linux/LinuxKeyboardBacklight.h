#pragma once

#include <optional>
#include <string>

#include "platform/KeyboardBacklightRoutes.h"

namespace orvel {

// The keyboard backlight as the kernel's LED class shows it: the first
// <sysRoot>/class/leds/*::kbd_backlight in name order, found once. Its level is brightness ÷
// max_brightness, so the registry route reads and takes fractions of the device's own range
// (range() is max_brightness) and no scale is probed. Written through the brightness file; one
// that cannot be written leaves the level as it is and one log line. No client route yet.
class LinuxKeyboardBacklight final : public KeyboardBacklightRoutes {
  public:
    explicit LinuxKeyboardBacklight(std::string sysRoot);

    bool hasClient() override { return false; }
    std::optional<std::string> clientMethodEncoding(std::string_view) override {
        return std::nullopt;
    }
    double clientBrightness() override { return 0; }
    bool clientSetBrightness(double) override { return false; }
    bool hasService() override;
    std::optional<double> registryValue() override;
    void setRegistryValue(double value, bool integer) override;
    std::optional<int> range() override;

    // The LED's folder; empty when there is none.
    const std::string& device();

  private:
    std::string sysRoot_;
    std::optional<std::string> device_;
};

}  // namespace orvel
