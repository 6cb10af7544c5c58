#include "platform/linux/LinuxPaths.h"

#include <unistd.h>

namespace orvel {

LinuxPaths::LinuxPaths(const xdg::Environment& env, std::string resourcesDirectory)
    : applicationSupport_(xdg::dataHome(env) + "/Orvel"),
      config_(xdg::configHome(env) + "/orvel"),
      resources_(std::move(resourcesDirectory)) {}

std::string LinuxPaths::defaultResourcesDirectory() {
    char target[4096];
    const ssize_t n = ::readlink("/proc/self/exe", target, sizeof target - 1);
    const std::string self = n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "";
    const std::string buildRoot = std::string(ORVEL_BUILD_ROOT) + "/";
    if (self.rfind(buildRoot, 0) == 0) {
        return ORVEL_SOURCE_RESOURCES;
    }
    return ORVEL_INSTALL_DATADIR;
}

}  // namespace orvel
