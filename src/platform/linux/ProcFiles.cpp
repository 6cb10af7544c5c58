#include "platform/linux/ProcFiles.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

namespace orvel::proc {

std::optional<StatFields> parseStat(std::string_view text) {
    const auto close = text.rfind(')');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    StatFields stat;
    if (const auto open = text.find('('); open != std::string_view::npos && open < close) {
        stat.command = std::string(text.substr(open + 1, close - open - 1));
    }
    std::istringstream fields{std::string(text.substr(close + 1))};
    std::string state;
    long long value = 0;
    fields >> state >> stat.parent;
    for (int field = 5; field <= 22 && fields >> value; ++field) {
        if (field == 7) {
            stat.tty = static_cast<int>(value);
        } else if (field == 22) {
            stat.startTime = static_cast<std::uint64_t>(value);
        }
    }
    return stat;
}

std::optional<uid_t> parseStatusUid(std::string_view text) {
    std::istringstream status{std::string(text)};
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Uid:", 0) == 0) {
            uid_t uid = 0;
            std::istringstream(line.substr(4)) >> uid;
            return uid;
        }
    }
    return std::nullopt;
}

std::optional<pid_t> parseStatusThreadGroup(std::string_view text) {
    const auto line = text.find("\nTgid:");
    if (line == std::string_view::npos) {
        return std::nullopt;
    }
    pid_t group = 0;
    std::istringstream(std::string(text.substr(line + 6, 16))) >> group;
    return group;
}

namespace {

// "\x2d" and the like back to their bytes.
std::string unescapeUnitName(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::optional<std::string> parseApplicationUnit(std::string_view cgroup) {
    // The unified hierarchy's line ("0::/…"); the last folder of its path is the unit.
    std::string_view path;
    while (!cgroup.empty()) {
        const auto end = std::min(cgroup.find('\n'), cgroup.size());
        const std::string_view line = cgroup.substr(0, end);
        if (line.rfind("0::", 0) == 0) {
            path = line.substr(3);
        }
        cgroup.remove_prefix(std::min(end + 1, cgroup.size()));
    }
    std::string_view unit = path.substr(path.rfind('/') + 1);
    if (unit.rfind("app-", 0) != 0) {
        return std::nullopt;
    }
    std::vector<std::string_view> parts;
    if (unit.ends_with(".scope")) {
        unit.remove_suffix(6);
        for (std::size_t dash; (dash = unit.find('-')) != std::string_view::npos;) {
            parts.push_back(unit.substr(0, dash));
            unit.remove_prefix(dash + 1);
        }
        parts.push_back(unit);
        // app, the launcher if any, the id, the random part
        if (parts.size() < 3 || parts.size() > 4) {
            return std::nullopt;
        }
        return unescapeUnitName(parts[parts.size() - 2]);
    }
    if (unit.ends_with(".service")) {
        unit.remove_suffix(8);
        unit = unit.substr(0, unit.find('@'));
        const auto dash = unit.rfind('-');
        const std::string_view id = unit.substr(dash + 1);
        if (dash < 3 || id.empty()) {
            return std::nullopt;
        }
        return unescapeUnitName(id);
    }
    return std::nullopt;
}

std::vector<std::string> splitNul(std::string_view text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\0', start), text.size());
        parts.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

LaunchEnvironment parseLaunchEnvironment(std::string_view environ, pid_t pid) {
    LaunchEnvironment launch;
    std::string file;
    bool samePid = false;
    for (const auto& variable : splitNul(environ)) {
        if (variable.rfind("DISPLAY=", 0) == 0 || variable.rfind("WAYLAND_DISPLAY=", 0) == 0) {
            launch.graphical = true;
        } else if (variable.rfind("GIO_LAUNCHED_DESKTOP_FILE=", 0) == 0) {
            file = variable.substr(std::strlen("GIO_LAUNCHED_DESKTOP_FILE="));
        } else if (variable.rfind("GIO_LAUNCHED_DESKTOP_FILE_PID=", 0) == 0) {
            samePid = variable.substr(std::strlen("GIO_LAUNCHED_DESKTOP_FILE_PID=")) ==
                      std::to_string(pid);
        }
    }
    const auto below = file.rfind("/applications/");
    if (!samePid || below == std::string::npos || !file.ends_with(".desktop")) {
        return launch;
    }
    std::string id = file.substr(below + std::strlen("/applications/"));
    id.erase(id.size() - std::strlen(".desktop"));
    std::replace(id.begin(), id.end(), '/', '-');
    launch.launchedEntry = std::move(id);
    return launch;
}

}  // namespace orvel::proc
