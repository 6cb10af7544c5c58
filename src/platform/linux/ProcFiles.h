#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What Orvel takes from another process's /proc files, decoded from their text alone: any user's
// process chooses its own name and arguments, so these readers must take any bytes.

namespace orvel::proc {

// The fields of /proc/<pid>/stat that Orvel uses.
struct StatFields {
    // The kernel's name for it (comm): the base name of the file it last ran, cut to 15 bytes.
    std::string command;
    pid_t parent = 0;
    int tty = 0;
    std::uint64_t startTime = 0;
};

// The numeric fields after the command name (which may hold spaces and parentheses); nothing
// when the text has no closing parenthesis.
std::optional<StatFields> parseStat(std::string_view text);
// The real user id on the first "Uid:" line of /proc/<pid>/status; nothing when there is none.
std::optional<uid_t> parseStatusUid(std::string_view text);
// The application id of the systemd unit a process runs in, from /proc/<pid>/cgroup: desktops
// start each application in "app[-<launcher>]-<id>-<random>.scope" or
// "app[-<launcher>]-<id>[@<random>].service", the id escaped as systemd escapes unit names.
// Nothing outside such a unit.
std::optional<std::string> parseApplicationUnit(std::string_view cgroup);
// The thread group (the process a thread belongs to) on the "Tgid:" line; nothing when there is
// none.
std::optional<pid_t> parseStatusThreadGroup(std::string_view text);
// The NUL-separated words of /proc/<pid>/cmdline or environ.
std::vector<std::string> splitNul(std::string_view text);

// What a process's environment (/proc/<pid>/environ) tells of how it was started.
struct LaunchEnvironment {
    // DISPLAY or WAYLAND_DISPLAY is set: it runs in the graphical session.
    bool graphical = false;
    // The desktop id of the entry a GIO launcher started it from: launchers set the entry's file
    // and the pid they started, and children inherit both, so the pid must be `pid`.
    std::optional<std::string> launchedEntry;
};
LaunchEnvironment parseLaunchEnvironment(std::string_view environ, pid_t pid);

}  // namespace orvel::proc
