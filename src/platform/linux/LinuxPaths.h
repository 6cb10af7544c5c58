#pragma once

#include <string>
#include <string_view>

#include "foundation/Result.h"
#include "platform/Paths.h"
#include "platform/linux/Xdg.h"

namespace orvel {

// XDG folders: data in $XDG_DATA_HOME/Orvel (else ~/.local/share/Orvel), settings in
// $XDG_CONFIG_HOME/orvel (else ~/.config/orvel). Resources are in <prefix>/share/orvel once
// installed, or in the source tree's resources/ when Orvel runs from its build tree.
class LinuxPaths final : public Paths {
  public:
    explicit LinuxPaths(const xdg::Environment& env = xdg::processEnvironment(),
                        std::string resourcesDirectory = defaultResourcesDirectory());

    // The source tree's resources/ for a program in the build tree, else the installed ones.
    static std::string defaultResourcesDirectory();
    // The absolute path of the running program, as the kernel knows it.
    static Result<std::string> executablePath();
    // Whether a program is one of this build tree's rather than an installed one.
    static bool isInBuildTree(std::string_view program);

    std::string applicationSupportDirectory() override { return applicationSupport_; }
    std::string configDirectory() override { return config_; }
    std::string resourcesDirectory() override { return resources_; }
    // $XDG_RUNTIME_DIR/orvel, else a folder of this user's under /tmp.
    std::string runtimeDirectory() override { return runtime_; }

  private:
    std::string applicationSupport_;
    std::string config_;
    std::string resources_;
    std::string runtime_;
};

}  // namespace orvel
