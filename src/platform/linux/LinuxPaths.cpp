#include "platform/linux/LinuxPaths.h"

#include "foundation/Log.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvel {

LinuxPaths::LinuxPaths(const xdg::Environment& env, std::string resourcesDirectory)
    : applicationSupport_(xdg::dataHome(env) + "/Orvel"),
      config_(xdg::configHome(env) + "/orvel"),
      resources_(std::move(resourcesDirectory)) {
    const auto runtime = env("XDG_RUNTIME_DIR");
    runtime_ = runtime && !runtime->empty() && runtime->front() == '/'
                   ? *runtime + "/orvel"
                   : "/tmp/orvel-runtime-" + std::to_string(::getuid());
}

std::string LinuxPaths::defaultResourcesDirectory() {
    const auto self = executablePath();
    if (!self) {
        Logger("platform").error(self.error().message + "; using the installed resources.");
        return ORVEL_INSTALL_DATADIR;
    }
    return isInBuildTree(*self) ? ORVEL_SOURCE_RESOURCES : ORVEL_INSTALL_DATADIR;
}

bool LinuxPaths::isInBuildTree(std::string_view program) {
    return program.starts_with(ORVEL_BUILD_ROOT "/");
}

Result<std::string> LinuxPaths::executablePath() {
    constexpr const char* kSelf = "/proc/self/exe";
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(kSelf, target.data(), target.size());
        if (n < 0) {
            return Error{std::string("Could not tell where the running program is (") + kSelf +
                         "): " + std::strerror(errno)};
        }
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return target;
        }
        target.resize(target.size() * 2);  // possibly cut short: try again with more room
    }
}

}  // namespace orvel
