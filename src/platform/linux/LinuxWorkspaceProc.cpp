#include "platform/linux/LinuxWorkspaceProc.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/linux/DesktopApplications.h"
#include "platform/linux/LinuxFiles.h"
#include "platform/linux/ProcFiles.h"
#include "platform/linux/Xdg.h"

namespace orvel::procread {

namespace fs = std::filesystem;

namespace {

// The program a process runs now, by its base name; nothing when it cannot be read.
std::optional<std::string> executableName(const fs::path& folder) {
    std::error_code error;
    const fs::path exe = fs::read_symlink(folder / "exe", error);
    if (error) {
        return std::nullopt;
    }
    std::string name = exe.filename().string();
    // A deleted (upgraded) binary reads as "name (deleted)".
    if (const auto mark = name.find(" (deleted)"); mark != std::string::npos) {
        name.erase(mark);
    }
    return name;
}

}  // namespace

bool isInterpreter(const std::string& name) {
    static const char* const kInterpreters[] = {"python", "perl", "ruby", "node", "sh",
                                                "bash",   "gjs",  "java", "mono"};
    return std::any_of(std::begin(kInterpreters), std::end(kInterpreters),
                       [&](const char* i) { return name.rfind(i, 0) == 0; });
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string execProgram(const std::string& exec) {
    const std::vector<std::string> words = xdg::execWords(exec);
    std::size_t i = 0;
    if (i < words.size() && baseName(words[i]) == "env") {
        ++i;
        while (i < words.size() && words[i].find('=') != std::string::npos) {
            ++i;
        }
    }
    return i < words.size() ? baseName(words[i]) : "";
}

std::string programPath() {
    const char* path = std::getenv("PATH");
    return path != nullptr ? path : "";
}

std::string findProgram(const std::string& word, Processes& processes) {
    return xdg::findProgram(word, programPath(), [&processes](const std::string& file) {
        return processes.isExecutableFile(file);
    });
}

std::string programOf(const ProcessInfo& info) {
    if (isInterpreter(info.executable) && info.arguments.size() > 1) {
        return baseName(info.arguments[1]);
    }
    return info.executable;
}

std::string readFile(const fs::path& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return n < 0 ? std::string() : text;
}

std::optional<ProcessInfo> readStat(const fs::path& folder, pid_t pid) {
    const auto stat = proc::parseStat(readFile(folder / "stat"));
    if (!stat) {
        return std::nullopt;
    }
    ProcessInfo info;
    info.pid = pid;
    info.command = stat->command;
    info.parent = stat->parent;
    info.tty = stat->tty;
    info.startTime = stat->startTime;
    return info;
}

bool readProgram(const fs::path& folder, ProcessInfo& info, bool argumentsRead) {
    const std::string status = readFile(folder / "status");
    const auto uid = proc::parseStatusUid(status);
    // A thread's pid opens as well as its process's, but names only a thread.
    if (const auto group = proc::parseStatusThreadGroup(status);
        !uid || (group && *group != info.pid)) {
        return false;
    }
    info.uid = *uid;
    if (!argumentsRead) {
        info.arguments = proc::splitNul(readFile(folder / "cmdline"));
    }
    if (info.arguments.empty()) {
        return false;
    }
    info.executable = executableName(folder).value_or(baseName(info.arguments[0]));
    return true;
}

std::optional<ProcessInfo> readProcess(const fs::path& folder, pid_t pid) {
    auto info = readStat(folder, pid);
    if (!info || !readProgram(folder, *info, false)) {
        return std::nullopt;
    }
    return info;
}

std::vector<pid_t> listProcesses(const std::string& procRoot) {
    std::vector<pid_t> pids;
    for (const std::string& name : listFolder(procRoot).names) {
        if (const auto pid = parseNumber<pid_t>(name); pid && *pid > 0) {
            pids.push_back(*pid);
        }
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

void readEnvironment(const fs::path& folder, ProcessInfo& info) {
    auto launch = proc::parseLaunchEnvironment(readFile(folder / "environ"), info.pid);
    info.graphical = launch.graphical;
    info.launchedEntry = std::move(launch.launchedEntry);
}

std::optional<long> newestPid(const std::string& procRoot) {
    const std::string text = readFile(procRoot + "/loadavg");
    const auto end = text.find_last_not_of(" \n");
    const auto space = text.find_last_of(' ', end);
    if (end == std::string::npos || space == std::string::npos) {
        return std::nullopt;
    }
    return parseNumber<long>(text.substr(space + 1, end - space));
}

}  // namespace orvel::procread
