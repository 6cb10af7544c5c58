#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <string_view>

#include "foundation/Result.h"
#include "platform/Paths.h"
#include "platform/linux/Xdg.h"

namespace orvel {

// XDG folders: data in $XDG_DATA_HOME/Orvel (else ~/.local/share/Orvel), settings in
// $XDG_CONFIG_HOME/orvel (else ~/.config/orvel), runtime files in a folder of `owner`'s alone.
// Resources are in share/orvel beside an installed program's bin/ (wherever the prefix is), or in
// the source tree's resources/ when Orvel runs from its build tree.
class LinuxPaths final : public Paths {
  public:
    explicit LinuxPaths(const xdg::Environment& env = xdg::processEnvironment(),
                        std::string resourcesDirectory = defaultResourcesDirectory(),
                        uid_t owner = ::geteuid());

    // The source tree's resources/ for a program in the build tree, else the installed ones.
    static std::string defaultResourcesDirectory();
    // The compiled catalogues: the build tree's locale/ for a program in it, else the installed
    // <prefix>/share/locale.
    static std::string defaultLocaleDirectory();
    // The absolute path of the running program, as the kernel knows it.
    static Result<std::string> executablePath();
    // `relative` (a path from the installed bin/) from the folder `program` is in.
    static std::string besideProgram(std::string_view program, std::string_view relative);
    // Whether a program is one of this build tree's rather than an installed one.
    static bool isInBuildTree(std::string_view program);

    std::string applicationSupportDirectory() override { return applicationSupport_; }
    std::string configDirectory() override { return config_; }
    std::string resourcesDirectory() override { return resources_; }
    // $XDG_RUNTIME_DIR/orvel when $XDG_RUNTIME_DIR is the owner's alone, else
    // <cache home>/orvel/runtime: never a name in a folder others may write to.
    std::string runtimeDirectory() override { return runtime_; }

    // Why `path` may not hold files of `owner`'s alone: it must be a folder (not a link to one)
    // owned by `owner` that no one else may enter or change (mode 0700). Nothing when it may.
    static std::optional<std::string> whyNotPrivate(const std::string& path, uid_t owner);
    // Makes `path` (and missing parents) when absent, then says why not as whyNotPrivate does.
    static Result<void> makePrivateFolder(const std::string& path, uid_t owner);

  private:
    std::string applicationSupport_;
    std::string config_;
    std::string resources_;
    std::string runtime_;
};

}  // namespace orvel
