#pragma once

#include <optional>
#include <string>

// Facts about the machine and its operating system. Threading: main thread only.

namespace orvel {

class SystemInfo {
  public:
    virtual ~SystemInfo() = default;

    // The machine's stable hardware identifier as text; nothing when it cannot be read.
    virtual std::optional<std::string> platformUUID() = 0;
    // The major version number of the running operating system; 0 when unknown.
    virtual int osMajorVersion() = 0;

    struct Version {
        int major = 0;
        int minor = 0;
        int patch = 0;
        bool operator==(const Version&) const = default;
    };
    // The running operating system's version; numbers it does not have are 0.
    virtual Version osVersion() { return Version{osMajorVersion(), 0, 0}; }
    // The running system as it names itself ("Debian GNU/Linux 12 (bookworm)"); "Linux" when it
    // gives no name.
    virtual std::string osName() = 0;
    // The kernel's release ("6.1.0-18-amd64"); "unknown" when it cannot be read.
    virtual std::string kernelRelease() = 0;
    // The name of the running program, as menus show it.
    virtual std::string processName() = 0;

    // The machine's model name as its maker gives it; nothing when it cannot be read.
    virtual std::optional<std::string> hardwareModel() = 0;
    // The SMBIOS chassis type (3 desktop, 9 laptop, 10 notebook, …); nothing when unknown.
    virtual std::optional<int> chassisType() = 0;

    enum class WindowSystem { none, x11, wayland };
    // What the graphical session runs on.
    virtual WindowSystem windowSystem() = 0;
    // The machine's processor architecture as the kernel names it ("x86_64", "aarch64").
    virtual std::string architecture() = 0;
    // The user's full name; empty when the account has none.
    virtual std::string fullUserName() = 0;
    // The user's login name.
    virtual std::string userName() = 0;
    // The user's home folder.
    virtual std::string homeDirectory() = 0;
    // The computer's name as the user gave it; nothing when it has none.
    virtual std::optional<std::string> localizedHostName() = 0;
};

}  // namespace orvel
