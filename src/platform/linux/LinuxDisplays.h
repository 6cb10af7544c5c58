#pragma once

#include <string>

#include "platform/Backlight.h"
#include "platform/Displays.h"

namespace orvel {

// The displays and backlights of this machine. Not read yet: no display is reported online, so
// nothing is ever darkened.
class LinuxDisplays final : public Displays, public Backlight {
  public:
    explicit LinuxDisplays(std::string sysRoot) : sysRoot_(std::move(sysRoot)) {}

    std::vector<DisplayDescription> onlineDisplays() override { return {}; }
    std::optional<double> level(std::uint32_t) override { return std::nullopt; }
    bool setLevel(std::uint32_t, double) override { return false; }

  private:
    std::string sysRoot_;
};

}  // namespace orvel
