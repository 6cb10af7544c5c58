#include "platform/linux/Xdg.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace orvel::xdg {

namespace {

// The XDG rules ignore relative paths and empty values.
std::optional<std::string> absolute(const Environment& env, const char* name) {
    auto value = env(name);
    if (!value || value->empty() || value->front() != '/') {
        return std::nullopt;
    }
    return value;
}

}  // namespace

Environment processEnvironment() {
    return [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
}

std::string home(const Environment& env) {
    if (auto value = absolute(env, "HOME")) {
        return *value;
    }
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/";
}

std::string dataHome(const Environment& env) {
    return absolute(env, "XDG_DATA_HOME").value_or(home(env) + "/.local/share");
}

std::string configHome(const Environment& env) {
    return absolute(env, "XDG_CONFIG_HOME").value_or(home(env) + "/.config");
}

std::vector<std::string> dataFolders(const Environment& env) {
    std::vector<std::string> folders{dataHome(env)};
    const auto dirs = env("XDG_DATA_DIRS");
    const std::string list = dirs && !dirs->empty() ? *dirs : "/usr/local/share:/usr/share";
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        const std::string folder = list.substr(start, end - start);
        if (!folder.empty() && folder.front() == '/') {
            folders.push_back(folder);
        }
        start = end + 1;
    }
    return folders;
}

}  // namespace orvel::xdg
