#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/RunLoop.h"
#include "platform/EventTap.h"
#include "platform/HidDevices.h"
#include "platform/Permissions.h"
#include "platform/linux/UniqueFd.h"

namespace orvel {

class Processes;

// Where the input devices are seen; tests point these at fixture trees.
struct LinuxInputRoots {
    std::string sys = "/sys";
    std::string udevData = "/run/udev/data";
    std::string dev = "/dev";
    std::string udevRules = "/etc/udev/rules.d";
};

// One event device as the kernel and udev describe it.
struct LinuxInputNode {
    HidDevice device;
    std::string eventNode;  // /dev/input/eventN
    std::string inhibited;  // the input device's `inhibited` attribute
};

// Input devices from /sys/class/input and the udev database: product is the kernel's name,
// transport the bus name, built in an internal bus (i8042, I2C, Host, SPI, RMI) or udev's
// internal integration, never a virtual device; usages from udev's ID_INPUT_* properties.
// devicesChanged follows the event nodes coming and going (inotify on <dev>/input).
class LinuxHidDevices final : public HidDevices {
  public:
    explicit LinuxHidDevices(LinuxInputRoots roots = {});

    std::vector<HidDevice> attachedDevices() override;
    // The same scan with the nodes behind each device.
    std::vector<LinuxInputNode> scan();
    // The bus name of a kernel bus type ("USB", "i8042" …); none for an unknown one.
    static std::optional<std::string> busName(unsigned busType);

    const LinuxInputRoots& roots() const { return roots_; }

  private:
    LinuxInputRoots roots_;
    UniqueFd inotify_;
    FdWatch watch_;
    // Ids stay with a device while it is attached: keyed by the kernel's name of its input
    // device, which a replug changes.
    std::map<std::string, std::uint64_t> ids_;
    std::uint64_t nextId_ = 1;
};

// Input Monitoring is read access to the built-in devices' event nodes; Accessibility is being
// able to switch each off (its `inhibited` attribute writable, or its node open for a grab).
// Undecided while neither is granted, Orvel's udev rule is absent and pkexec can install it: a
// request runs pkexec on the script that installs the rule, and later checks see the grant.
class LinuxPermissions final : public Permissions {
  public:
    LinuxPermissions(LinuxHidDevices& devices, Processes& processes, std::string installer,
                     std::string guidePage);

    bool preflightListenEvent() override;
    ListenEventAccess checkListenEventAccess() override;
    void requestListenEventAccess() override;
    bool isAccessibilityTrusted() override;
    bool requestAccessibility() override;
    std::optional<std::string> settingsURL(bool accessibility) override;
    // pkexec runs the installer with --remove while Orvel's rule is installed.
    std::optional<LaunchRequest> grantClearingCommand() override;

    static constexpr const char* kRuleName = "70-orvel-input.rules";

  private:
    std::vector<LinuxInputNode> builtInNodes();
    bool canRequest();
    void request();

    LinuxHidDevices& devices_;
    Processes& processes_;
    std::string installer_;
    std::string guidePage_;
    bool requested_ = false;
};

// Linux has no session-wide tap and no cursor to read or move from outside the compositor.
class LinuxEventTap final : public EventTap {
  public:
    std::unique_ptr<EventTapHandle> create(std::uint64_t, TapCallback) override { return nullptr; }
};

class LinuxCursor final : public Cursor {
  public:
    std::optional<CursorPoint> location() override { return std::nullopt; }
    void warp(CursorPoint) override {}
};

}  // namespace orvel
