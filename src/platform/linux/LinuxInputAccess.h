#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/HidDevices.h"
#include "platform/Permissions.h"

namespace orvel {

// Input devices on Linux. Not available yet: no device is listed, so nothing is ever classified
// built in and blocking says it found no built-in keyboard or trackpad.
class LinuxHidDevices final : public HidDevices {
  public:
    std::vector<HidDevice> attachedDevices() override { return {}; }
};

// Input permissions on Linux. Not available yet: both count as not granted and no request can
// change that.
class LinuxPermissions final : public Permissions {
  public:
    bool preflightListenEvent() override { return false; }
    ListenEventAccess checkListenEventAccess() override { return ListenEventAccess::denied; }
    void requestListenEventAccess() override;
    bool isAccessibilityTrusted() override { return false; }
    bool requestAccessibility() override;
    std::optional<std::string> settingsURL(bool) override { return std::nullopt; }
};

}  // namespace orvel
