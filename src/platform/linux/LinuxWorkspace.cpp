#include "platform/linux/LinuxWorkspace.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/Inhibitor.h"
#include "platform/linux/Xdg.h"

namespace orvel {

namespace fs = std::filesystem;

namespace {

const DBusObject kLogindManager{"org.freedesktop.login1", "/org/freedesktop/login1",
                                "org.freedesktop.login1.Manager"};
constexpr const char* kInhibit = "Inhibit";
constexpr const char* kPrepareForSleep = "PrepareForSleep";
constexpr const char* kDelayReason = "Orvel finishes its sleep work first";

// Programs that run another program named by their first argument.
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

// Read with plain calls: a process that ends mid-read fails the read (ESRCH), which a stream
// buffer would throw.
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

std::vector<std::string> splitNul(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\0', start), text.size());
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// The program an Exec line runs: its first word, past "env" and its assignments.
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

struct ProcessInfo {
    pid_t pid = 0;
    pid_t parent = 0;
    int tty = 0;
    std::uint64_t startTime = 0;
    uid_t uid = 0;
    std::string executable;  // base name
    std::vector<std::string> arguments;
};

std::optional<ProcessInfo> readProcess(const fs::path& folder, pid_t pid) {
    ProcessInfo info;
    info.pid = pid;
    // After the command name, which may hold spaces and parentheses, come the numeric fields.
    const std::string stat = readFile(folder / "stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    long long value = 0;
    fields >> state >> info.parent;
    for (int field = 5; field <= 22 && fields >> value; ++field) {
        if (field == 7) {
            info.tty = static_cast<int>(value);
        } else if (field == 22) {
            info.startTime = static_cast<std::uint64_t>(value);
        }
    }
    std::istringstream status(readFile(folder / "status"));
    std::string line;
    bool haveUid = false;
    while (std::getline(status, line)) {
        if (line.rfind("Uid:", 0) == 0) {
            std::istringstream(line.substr(4)) >> info.uid;
            haveUid = true;
            break;
        }
    }
    info.arguments = splitNul(readFile(folder / "cmdline"));
    if (!haveUid || info.arguments.empty()) {
        return std::nullopt;  // gone, or a kernel thread
    }
    std::error_code error;
    const fs::path exe = fs::read_symlink(folder / "exe", error);
    info.executable = error ? baseName(info.arguments[0]) : exe.filename().string();
    // A deleted (upgraded) binary reads as "name (deleted)".
    if (const auto mark = info.executable.find(" (deleted)"); mark != std::string::npos) {
        info.executable.erase(mark);
    }
    return info;
}

bool inGraphicalSession(const fs::path& folder) {
    for (const auto& variable : splitNul(readFile(folder / "environ"))) {
        if (variable.rfind("DISPLAY=", 0) == 0 || variable.rfind("WAYLAND_DISPLAY=", 0) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

struct LinuxWorkspace::Watched {
    RunningApplication app;
    std::uint64_t startTime = 0;
    UniqueFd pidfd;
    FdWatch watch;
};

LinuxWorkspace::LinuxWorkspace(std::shared_ptr<DBusConnection> systemBus, Processes& processes,
                               LinuxWorkspaceOptions options)
    : bus_(std::move(systemBus)),
      processes_(processes),
      options_(std::move(options)),
      user_(options_.user < 0 ? getuid() : static_cast<uid_t>(options_.user)) {
    if (options_.applicationFolders.empty()) {
        for (const auto& folder : xdg::dataFolders(xdg::processEnvironment())) {
            options_.applicationFolders.push_back(folder + "/applications");
        }
    }
    launchTimer_ = RunLoop::main().every(options_.launchInterval, [this] { checkLaunches(); });
    if (bus_) {
        logind_ = bus_->watchName(kLogindManager.service);
        logindWatch_ = logind_->changed.subscribe([this](BusNameState) { followLogind(); });
        followLogind();
    } else {
        log_.notice("Sleep and wake notices are not available on this system (no system bus).");
        logindReported_ = true;
    }
}

LinuxWorkspace::~LinuxWorkspace() = default;

// Desktop entries ------------------------------------------------------------------------------

void LinuxWorkspace::loadDesktopEntries() {
    entriesByProgram_.clear();
    std::set<std::string> ids;
    for (const auto& folder : options_.applicationFolders) {
        std::error_code error;
        std::vector<fs::path> files;
        for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            if (it->path().extension() == ".desktop") {
                files.push_back(it->path());
            }
        }
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            // The id is the path below applications/, its slashes turned into dashes.
            std::string id = file.lexically_relative(folder).replace_extension().string();
            std::replace(id.begin(), id.end(), '/', '-');
            if (!ids.insert(id).second) {
                continue;  // a more preferred folder has this id
            }
            const auto keys = xdg::readDesktopEntry(file.string());
            const auto value = [&keys](const char* key) {
                auto it = keys.find(key);
                return it == keys.end() ? std::string() : it->second;
            };
            DesktopEntry entry{id, value("Name"), value("NoDisplay") == "true"};
            const std::string exec = value("Exec");
            const std::string type = value("Type");
            const bool hidden = value("Hidden") == "true";
            const std::string program = execProgram(exec);
            if (hidden || type != "Application" || program.empty() || entry.name.empty()) {
                continue;
            }
            entriesByProgram_.emplace(program, std::move(entry));
        }
    }
}

// Running applications -------------------------------------------------------------------------

std::vector<RunningApplication> LinuxWorkspace::scan() {
    loadDesktopEntries();
    std::map<pid_t, ProcessInfo> processes;
    std::error_code error;
    for (fs::directory_iterator it(options_.procRoot, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) {
            continue;
        }
        pid_t pid = 0;
        if (std::from_chars(name.data(), name.data() + name.size(), pid).ec != std::errc()) {
            continue;
        }
        if (auto info = readProcess(it->path(), pid); info && info->uid == user_) {
            processes.emplace(pid, std::move(*info));
        }
    }

    std::vector<RunningApplication> apps;
    for (const auto& [pid, info] : processes) {
        if (auto parent = processes.find(info.parent);
            parent != processes.end() && parent->second.executable == info.executable) {
            continue;  // a helper of the same application
        }
        std::string program = info.executable;
        if (isInterpreter(program) && info.arguments.size() > 1) {
            program = baseName(info.arguments[1]);
        }
        RunningApplication app;
        app.processIdentifier = pid;
        if (auto entry = entriesByProgram_.find(program); entry != entriesByProgram_.end()) {
            app.bundleIdentifier = entry->second.id;
            app.localizedName = entry->second.name;
            app.activationPolicy =
                entry->second.noDisplay ? ActivationPolicy::accessory : ActivationPolicy::regular;
        } else if (info.tty == 0 &&
                   inGraphicalSession(fs::path(options_.procRoot) / std::to_string(pid))) {
            app.bundleIdentifier = program;
            app.localizedName = program;
            app.activationPolicy = ActivationPolicy::accessory;
        } else {
            continue;
        }
        watchExit(app, info.startTime);
        apps.push_back(std::move(app));
    }
    return apps;
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() {
    return scan();
}

void LinuxWorkspace::watchExit(const RunningApplication& app, std::uint64_t startTime) {
    const pid_t pid = app.processIdentifier;
    if (auto it = watched_.find(pid); it != watched_.end()) {
        if (it->second->startTime == startTime) {
            return;
        }
        // The pid was reused: the earlier application has ended.
        const RunningApplication ended = it->second->app;
        watched_.erase(it);
        didTerminateApplication.send(ended);
    }
    UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!pidfd) {
        if (errno == ESRCH) {
            // Ended between the reading and now; tell after the caller has had its list.
            std::weak_ptr<int> alive = alive_;
            RunLoop::main().async([this, alive, app] {
                if (alive.lock()) {
                    didTerminateApplication.send(app);
                }
            });
        }
        return;
    }
    auto watched = std::make_unique<Watched>();
    watched->app = app;
    watched->startTime = startTime;
    watched->watch = RunLoop::main().watchFd(pidfd.get(), kFdReadable, [this, pid](unsigned) {
        auto it = watched_.find(pid);
        if (it == watched_.end()) {
            return;
        }
        const RunningApplication ended = it->second->app;
        watched_.erase(it);
        std::erase_if(seen_, [&](const auto& s) { return s.first == pid; });
        didTerminateApplication.send(ended);
    });
    watched->pidfd = std::move(pidfd);
    watched_[pid] = std::move(watched);
}

void LinuxWorkspace::checkLaunches() {
    if (didLaunchApplication.subscriberCount() == 0) {
        launchBaseline_ = false;
        return;
    }
    const auto apps = scan();
    std::set<std::pair<pid_t, std::uint64_t>> now;
    for (const auto& app : apps) {
        const auto it = watched_.find(app.processIdentifier);
        now.emplace(app.processIdentifier, it != watched_.end() ? it->second->startTime : 0);
    }
    const bool report = launchBaseline_;
    std::vector<RunningApplication> launched;
    for (const auto& app : apps) {
        const auto it = watched_.find(app.processIdentifier);
        const std::pair<pid_t, std::uint64_t> key{app.processIdentifier,
                                                  it != watched_.end() ? it->second->startTime : 0};
        if (report && seen_.count(key) == 0) {
            launched.push_back(app);
        }
    }
    seen_ = std::move(now);
    launchBaseline_ = true;
    for (const auto& app : launched) {
        didLaunchApplication.send(app);
    }
}

// Opening URLs ---------------------------------------------------------------------------------

Result<void> LinuxWorkspace::openURL(std::string_view url) {
    if (url.empty() || url.front() == '-' || std::any_of(url.begin(), url.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
        })) {
        return Error{"“" + std::string(url) + "” is not an address that can be opened."};
    }
    if (!processes_.isExecutableFile(options_.opener)) {
        return Error{"Opening addresses is not available on this system (" + options_.opener +
                     " is missing)."};
    }
    processes_.launchDetached(LaunchRequest{options_.opener, {std::string(url)}});
    return {};
}

// Sleep and wake -------------------------------------------------------------------------------

void LinuxWorkspace::followLogind() {
    switch (logind_->state()) {
        case BusNameState::unknown:
            return;
        case BusNameState::absent:
            sleepSignal_.reset();
            delayRequest_.reset();
            delayLock_.reset();
            if (!logindReported_) {
                log_.notice("Sleep and wake notices are not available on this system (no logind).");
                logindReported_ = true;
            }
            return;
        case BusNameState::present:
            break;
    }
    logindReported_ = false;
    if (!sleepSignal_.isActive()) {
        auto match =
            bus_->matchSignal(kLogindManager.service, kLogindManager.path, kLogindManager.interface,
                              kPrepareForSleep, [this](sd_bus_message* m) {
                                  int start = 0;
                                  if (sd_bus_message_read(m, "b", &start) >= 0) {
                                      prepareForSleep(start != 0);
                                  }
                              });
        if (match) {
            sleepSignal_ = std::move(match.value());
        } else {
            log_.error(match.error().message);
        }
    }
    takeDelayLock();
}

void LinuxWorkspace::takeDelayLock() {
    if (delayLock_ || delayRequest_.isActive() || !bus_) {
        return;
    }
    auto request = bus_->call(
        kLogindManager, kInhibit,
        [](sd_bus_message* m) {
            return sd_bus_message_append(m, "ssss", "sleep", "Orvel", kDelayReason, "delay");
        },
        [this](sd_bus_message* reply) {
            delayRequest_.reset();
            auto lock = Inhibitor::lockFromReply(reply);
            if (!lock) {
                log_.error("logind refused the sleep delay: " + lock.error().message);
                return;
            }
            // Taken while the machine goes to sleep: holding it would only hold sleep up.
            if (!sleeping_) {
                delayLock_ = std::move(lock.value());
            }
        });
    if (request) {
        delayRequest_ = std::move(request.value());
    } else {
        log_.error(request.error().message);
    }
}

void LinuxWorkspace::prepareForSleep(bool sleeping) {
    sleeping_ = sleeping;
    if (sleeping) {
        willSleep.send();
        // The work is done: logind may go on.
        delayLock_.reset();
    } else {
        didWake.send();
        takeDelayLock();
    }
}

}  // namespace orvel
