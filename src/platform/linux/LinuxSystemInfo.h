#pragma once

#include <string>
#include <string_view>

#include "platform/SystemInfo.h"

namespace orvel {

// Reads the machine identity from files under a root folder ("/" on a real system).
class LinuxSystemInfo final : public SystemInfo {
  public:
    explicit LinuxSystemInfo(std::string root = "/");

    // /etc/machine-id (32 hexadecimal digits), shown in the 8-4-4-4-12 form in upper case.
    std::optional<std::string> platformUUID() override;
    // The major number of VERSION_ID in /etc/os-release (Debian "12" gives 12, "22.04" gives
    // 22): the distribution's release stands for the system version.
    int osMajorVersion() override;
    // VERSION_ID's dotted numbers ("22.04" gives 22.4.0); 0.0.0 when unknown.
    Version osVersion() override;
    // PRETTY_NAME in /etc/os-release, else NAME and VERSION, else "Linux".
    std::string osName() override;
    // The kernel's release (uname).
    std::string kernelRelease() override;
    // The base name the program was started under.
    std::string processName() override;
    // /sys/class/dmi/id/product_name, trimmed; nothing when missing or empty.
    std::optional<std::string> hardwareModel() override;
    // /sys/class/dmi/id/chassis_type as a number.
    std::optional<int> chassisType() override;
    // Wayland when $WAYLAND_DISPLAY is set, else X11 when $DISPLAY is, else none.
    WindowSystem windowSystem() override;
    // The kernel's machine name (uname).
    std::string architecture() override;
    // From the account's passwd entry: the comment up to its first comma, the login name and the
    // home folder ($HOME when the entry has none).
    std::string fullUserName() override;
    std::string userName() override;
    std::string homeDirectory() override;
    // PRETTY_HOSTNAME of /etc/machine-info, else the host name.
    std::optional<std::string> localizedHostName() override;

    // The full name in a passwd comment field: the text before its first comma.
    static std::string fullNameFromGecos(std::string_view gecos);
    // The value of `key` in a file of shell-style assignments (os-release, machine-info),
    // quotes and escapes removed; nothing when the key is missing.
    static std::optional<std::string> assignmentValue(std::string_view text, std::string_view key);

  private:
    std::string root_;
};

}  // namespace orvel
