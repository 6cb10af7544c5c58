#pragma once

#include <string>

#include "platform/LoginItems.h"
#include "platform/linux/Xdg.h"

namespace orvel {

// Login items as an XDG autostart entry, org.orvel.Orvel.desktop in $XDG_CONFIG_HOME/autostart:
// desktops start what it names at every login. The user can switch it off in the desktop's settings
// (Hidden=true, or X-GNOME-Autostart-enabled=false): that reads as requiresApproval. An entry
// whose program cannot be found reads as notFound.
class XdgLoginItems final : public LoginItems {
  public:
    // `program` is what the entry starts (the Orvel executable).
    XdgLoginItems(std::string autostartFolder, std::string program);

    // $XDG_CONFIG_HOME/autostart, else ~/.config/autostart.
    static std::string defaultAutostartFolder(const xdg::Environment& env);

    int status() override;
    Result<void> registerItem() override;
    Result<void> unregisterItem() override;

    const std::string& entryPath() const { return entryPath_; }

  private:
    // An orvel.desktop an earlier Orvel wrote becomes this entry, so a user keeps one login item.
    void adoptLegacyEntry();

    std::string folder_;
    std::string entryPath_;
    std::string program_;
};

}  // namespace orvel
