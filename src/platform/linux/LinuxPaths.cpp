#include "platform/linux/LinuxPaths.h"

#include "foundation/FileIO.h"
#include "foundation/Log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace orvel {

LinuxPaths::LinuxPaths(const xdg::Environment& env, std::string resourcesDirectory, uid_t owner)
    : applicationSupport_(xdg::dataHome(env) + "/Orvel"),
      config_(xdg::configHome(env) + "/orvel"),
      resources_(std::move(resourcesDirectory)),
      runtime_(xdg::cacheHome(env) + "/orvel/runtime") {
    // Files in the runtime folder are believed at the next start: another user must not be able
    // to put them there.
    const auto runtime = env("XDG_RUNTIME_DIR");
    if (!runtime) {
        return;
    }
    const auto why = runtime->empty() || runtime->front() != '/'
                         ? std::optional<std::string>("it is not an absolute path")
                         : whyNotPrivate(*runtime, owner);
    if (why) {
        Logger("platform")
            .error("Not keeping runtime files in $XDG_RUNTIME_DIR (\"" + *runtime + "\"): " + *why +
                   ". Using " + runtime_ + " instead.");
        return;
    }
    runtime_ = *runtime + "/orvel";
}

std::optional<std::string> LinuxPaths::whyNotPrivate(const std::string& path, uid_t owner) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return "could not look at " + path + ": " + std::strerror(errno);
    }
    if (S_ISLNK(info.st_mode)) {
        return path + " is a symbolic link";
    }
    if (!S_ISDIR(info.st_mode)) {
        return path + " is not a folder";
    }
    if (info.st_uid != owner) {
        return path + " belongs to user " + std::to_string(info.st_uid) + ", not to user " +
               std::to_string(owner);
    }
    if ((info.st_mode & 07777) != 0700) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", info.st_mode & 07777);
        return path + " has mode " + mode + ", not 0700";
    }
    return std::nullopt;
}

Result<void> LinuxPaths::makePrivateFolder(const std::string& path, uid_t owner) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (auto made = makeDirectories(path); !made) {
            return made.error();
        }
    }
    if (auto why = whyNotPrivate(path, owner)) {
        return Error{"Not using " + path + ": " + *why + "."};
    }
    return {};
}

std::string LinuxPaths::defaultResourcesDirectory() {
    const auto self = executablePath();
    if (!self) {
        Logger("platform").error(self.error().message + "; using the installed resources.");
        return ORVEL_INSTALL_DATADIR;
    }
    return isInBuildTree(*self) ? ORVEL_SOURCE_RESOURCES
                                : besideProgram(*self, ORVEL_BINDIR_TO_DATADIR);
}

std::string LinuxPaths::defaultLocaleDirectory() {
    const auto self = executablePath();
    if (!self) {
        return ORVEL_INSTALL_LOCALEDIR;
    }
    return isInBuildTree(*self) ? ORVEL_BUILD_ROOT "/locale"
                                : besideProgram(*self, ORVEL_BINDIR_TO_LOCALEDIR);
}

std::string LinuxPaths::besideProgram(std::string_view program, std::string_view relative) {
    // Shown in texts and logs: /usr/share/orvel rather than /usr/bin/../share/orvel.
    return (std::filesystem::path(program).parent_path() / relative).lexically_normal().string();
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
