#include "platform/linux/LinuxWorkspace.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "foundation/Localization.h"
#include "foundation/TextCompare.h"
#include "platform/linux/DesktopApplications.h"
#include "platform/linux/Inhibitor.h"
#include "platform/linux/LinuxFiles.h"
#include "platform/linux/ProcFiles.h"
#include "platform/linux/Xdg.h"

namespace orvel {

namespace fs = std::filesystem;

namespace {

const DBusObject kLogindManager{"org.freedesktop.login1", "/org/freedesktop/login1",
                                "org.freedesktop.login1.Manager"};
constexpr const char* kInhibit = "Inhibit";
constexpr const char* kPrepareForSleep = "PrepareForSleep";
constexpr const char* kDelayReason = "Orvel finishes its sleep work first";
// How long a new process is watched for running another program: a launcher's fork before its
// exec, or a wrapper script that execs the real program after a moment.
constexpr double kExecGraceSeconds = 10;

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

std::string programPath() {
    const char* path = std::getenv("PATH");
    return path != nullptr ? path : "";
}

// The program a command word names, as starting an entry looks for it.
std::string findProgram(const std::string& word, Processes& processes) {
    return xdg::findProgram(word, programPath(), [&processes](const std::string& file) {
        return processes.isExecutableFile(file);
    });
}

std::string formatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

using ProcessInfo = LinuxWorkspace::ProcessInfo;

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

// The cheapest reading: one file, for what the kernel calls it, its parent, terminal and start.
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

// The program the process runs and its arguments, after its uid, which tells whether it is worth
// reading on; false when it is gone or a kernel thread.
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

// The processes a /proc folder lists, ascending; nothing in them is opened.
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

using EntriesByProgram = std::map<std::string, std::vector<LinuxWorkspace::DesktopEntry>>;

// Whether the process runs in the graphical session, and the desktop entry a launcher named:
// GIO's launchers set the entry's file and the pid they started (children inherit both, so the
// pid must be this one).
void readEnvironment(const fs::path& folder, ProcessInfo& info) {
    std::string file;
    bool samePid = false;
    for (const auto& variable : proc::splitNul(readFile(folder / "environ"))) {
        if (variable.rfind("DISPLAY=", 0) == 0 || variable.rfind("WAYLAND_DISPLAY=", 0) == 0) {
            info.graphical = true;
        } else if (variable.rfind("GIO_LAUNCHED_DESKTOP_FILE=", 0) == 0) {
            file = variable.substr(std::strlen("GIO_LAUNCHED_DESKTOP_FILE="));
        } else if (variable.rfind("GIO_LAUNCHED_DESKTOP_FILE_PID=", 0) == 0) {
            samePid = variable.substr(std::strlen("GIO_LAUNCHED_DESKTOP_FILE_PID=")) ==
                      std::to_string(info.pid);
        }
    }
    const auto below = file.rfind("/applications/");
    if (!samePid || below == std::string::npos || !file.ends_with(".desktop")) {
        return;
    }
    std::string id = file.substr(below + std::strlen("/applications/"));
    id.erase(id.size() - std::strlen(".desktop"));
    std::replace(id.begin(), id.end(), '/', '-');
    info.launchedEntry = std::move(id);
}

// Whether a TryExec program is installed: an absolute path, or a name found on PATH.
bool programInstalled(const std::string& program) {
    return !xdg::findProgram(program, programPath(), [](const std::string& file) {
                return ::access(file.c_str(), X_OK) == 0;
            }).empty();
}

// The program a process stands for: a script's, not its interpreter's.
std::string programOf(const ProcessInfo& info) {
    if (isInterpreter(info.executable) && info.arguments.size() > 1) {
        return baseName(info.arguments[1]);
    }
    return info.executable;
}

// Of the entries that run its program, the one the process was started from: the one its
// desktop's unit names, else the one with the most of its Exec options on the command line, else
// the first.
const LinuxWorkspace::DesktopEntry* startedFrom(
    const ProcessInfo& info, const std::vector<LinuxWorkspace::DesktopEntry>& entries) {
    for (const auto& entry : entries) {
        if (entry.id == info.unitEntry) {
            return &entry;
        }
    }
    const LinuxWorkspace::DesktopEntry* best = nullptr;
    std::size_t bestCount = 0;
    const auto first = info.arguments.empty() ? info.arguments.end() : info.arguments.begin() + 1;
    for (const auto& entry : entries) {
        const bool all = std::all_of(
            entry.arguments.begin(), entry.arguments.end(), [&](const std::string& argument) {
                return std::find(first, info.arguments.end(), argument) != info.arguments.end();
            });
        if (all && (best == nullptr || entry.arguments.size() > bestCount)) {
            best = &entry;
            bestCount = entry.arguments.size();
        }
    }
    return best != nullptr ? best : &entries.front();
}

// The application a process of the user's stands for, if any. `parentExecutable` is the
// parent's executable when the parent is the user's too.
std::optional<RunningApplication> applicationOf(
    const ProcessInfo& info, const std::string* parentExecutable, const EntriesByProgram& entries,
    const std::map<std::string, LinuxWorkspace::DesktopEntry>& entriesById) {
    if (parentExecutable != nullptr && *parentExecutable == info.executable) {
        return std::nullopt;  // a helper of the same application
    }
    const std::string program = programOf(info);
    RunningApplication app;
    app.processIdentifier = info.pid;
    const LinuxWorkspace::DesktopEntry* found = nullptr;
    const auto byProgram = entries.find(program);
    // What the launcher says beats guessing from the program.
    if (info.launchedEntry) {
        if (auto byId = entriesById.find(*info.launchedEntry); byId != entriesById.end()) {
            found = &byId->second;
        }
    }
    if (found == nullptr && byProgram != entries.end()) {
        found = startedFrom(info, byProgram->second);
    }
    if (found != nullptr) {
        app.bundleIdentifier = found->id;
        app.localizedName = found->name;
        app.activationPolicy =
            found->noDisplay ? ActivationPolicy::accessory : ActivationPolicy::regular;
        app.bundleURL = found->path;
        if (byProgram != entries.end()) {
            for (const auto& other : byProgram->second) {
                if (other.id != found->id) {
                    app.otherBundleIdentifiers.push_back(other.id);
                }
            }
        }
    } else if (info.tty == 0 && info.graphical) {
        app.bundleIdentifier = program;
        app.localizedName = program;
        app.activationPolicy = ActivationPolicy::accessory;
    } else {
        return std::nullopt;
    }
    return app;
}

// What changes a folder of desktop entries: names coming and going, files written, the folder
// itself going away.
constexpr std::uint32_t kEntryFolderChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                              IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF |
                                              IN_ONLYDIR;

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
    if (options_.iconFolders.empty()) {
        const auto env = xdg::processEnvironment();
        options_.iconFolders.push_back(xdg::home(env) + "/.icons");
        for (const auto& folder : xdg::dataFolders(env)) {
            options_.iconFolders.push_back(folder + "/icons");
        }
        for (const auto& folder : xdg::dataFolders(env)) {
            options_.iconFolders.push_back(folder + "/pixmaps");
        }
    }
    if (!options_.locales) {
        options_.locales = xdg::entryLocales(xdg::processEnvironment());
    }
    if (options_.desktop.empty()) {
        const char* current = std::getenv("XDG_CURRENT_DESKTOP");
        options_.desktop = current != nullptr ? current : "";
    }
    didLaunchApplication.setSubscribersChanged([this] { launchListenersChanged(); });
    willSleep.setSubscribersChanged([this] { sleepListenersChanged(); });
    didWake.setSubscribersChanged([this] { sleepListenersChanged(); });
    clockDidChange.setSubscribersChanged([this] { clockListenersChanged(); });
    if (bus_) {
        logind_ = bus_->watchName(kLogindManager.service);
        logindWatch_ = logind_->changed.subscribe([this](BusNameState) { followLogind(); });
        followLogind();
    } else {
        log_.notice("Sleep and wake notices are not available on this system (no system bus).");
        logindReported_ = true;
    }
}

LinuxWorkspace::~LinuxWorkspace() {
    didLaunchApplication.setSubscribersChanged(nullptr);
    willSleep.setSubscribersChanged(nullptr);
    didWake.setSubscribersChanged(nullptr);
    clockDidChange.setSubscribersChanged(nullptr);
}

// Desktop entries ------------------------------------------------------------------------------

bool LinuxWorkspace::refreshDesktopEntries() {
    if (!entriesIndexed_ || desktopEntriesChanged()) {
        loadDesktopEntries();
        return true;
    }
    return false;
}

bool LinuxWorkspace::desktopEntriesChanged() {
    if (!entriesWatched_) {
        return true;
    }
    // Read here rather than on the loop: a reading must not miss a change the loop has not
    // delivered yet. Which change it was does not matter; the whole index is made again.
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(entryChanges_.get(), buffer, sizeof buffer);
        if (n > 0) {
            changed = true;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            changed = changed || (n < 0 && errno != EAGAIN);
            break;
        }
    }
    for (const auto& folder : missingFolders_) {
        std::error_code error;
        changed = changed || fs::is_directory(folder, error);
    }
    return changed;
}

// Watched before it is read, so that a change during the reading makes the next one index again.
bool LinuxWorkspace::watchEntryFolder(const std::string& folder) {
    if (entriesWatched_ &&
        ::inotify_add_watch(entryChanges_.get(), folder.c_str(), kEntryFolderChanges) < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return false;
        }
        entriesUnwatched(folder + " cannot be watched: " + std::strerror(errno));
    }
    return true;
}

void LinuxWorkspace::entriesUnwatched(const std::string& why) {
    entriesWatched_ = false;
    if (!entryWatchFailureLogged_) {
        log_.error("Desktop entries are read again at every look for launched applications (" +
                   why + ").");
        entryWatchFailureLogged_ = true;
    }
}

void LinuxWorkspace::loadDesktopEntries() {
    entriesIndexed_ = true;
    entriesByProgram_.clear();
    entriesById_.clear();
    programsById_.clear();
    missingFolders_.clear();
    // A fresh set of watches for the folders as they are now: none left over from folders gone.
    entryChanges_ = UniqueFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    entriesWatched_ = true;
    if (!entryChanges_) {
        entriesUnwatched(std::string("no inotify: ") + std::strerror(errno));
    }
    std::set<std::string> ids;
    for (const auto& listed : options_.applicationFolders) {
        const std::string folder = xdg::normalFolder(listed);
        if (!watchEntryFolder(folder)) {
            missingFolders_.push_back(folder);
            continue;
        }
        for (const auto& [id, file] : xdg::entryFiles(
                 folder, [this](const std::string& subfolder) { watchEntryFolder(subfolder); })) {
            if (!ids.insert(id).second) {
                continue;  // a more preferred folder has this id
            }
            const auto keys = xdg::readDesktopEntry(file);
            const auto value = [&keys](const char* key) {
                auto it = keys.find(key);
                return it == keys.end() ? std::string() : it->second;
            };
            DesktopEntry entry{id, value("Name"), value("NoDisplay") == "true", file, {}};
            const std::string exec = value("Exec");
            const std::string type = value("Type");
            const bool hidden = value("Hidden") == "true";
            const std::string program = execProgram(exec);
            if (hidden || type != "Application" || program.empty() || entry.name.empty()) {
                continue;
            }
            for (const std::string& word : xdg::launchWords(exec)) {
                if (word.size() > 1 && word.front() == '-') {
                    entry.arguments.push_back(word);
                }
            }
            // An entry whose TryExec program is not installed is not shown; one that is also
            // names its program.
            const std::string tryExec = value("TryExec");
            if (!tryExec.empty()) {
                if (!programInstalled(tryExec)) {
                    continue;
                }
                entriesByProgram_[baseName(tryExec)].push_back(entry);
                programsById_[id].push_back(baseName(tryExec));
            }
            programsById_[id].push_back(program);
            entriesById_.emplace(entry.id, entry);
            if (baseName(tryExec) != program) {
                entriesByProgram_[program].push_back(std::move(entry));
            }
        }
    }
}

// Running applications -------------------------------------------------------------------------

void LinuxWorkspace::listOncePerTurn() {
    if (listedThisTurn_) {
        return;
    }
    readProcesses();
    listedThisTurn_ = true;
    const auto alive = weakRef(*this);
    RunLoop::main().async([this, alive] {
        if (alive) {
            listedThisTurn_ = false;
        }
    });
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() {
    listOncePerTurn();
    std::vector<pid_t> unread;
    for (const auto& [pid, known] : known_) {
        if (!known.read) {
            unread.push_back(pid);
        }
    }
    readInFull(unread);
    std::vector<RunningApplication> apps;
    for (const auto& [pid, known] : known_) {
        if (known.app) {
            apps.push_back(*known.app);
        }
    }
    return apps;
}

std::vector<RunningApplication> LinuxWorkspace::runningApplicationsKnownAs(
    const std::set<std::string>& identifiers) {
    listOncePerTurn();
    Candidates asked;
    const Candidates& candidates =
        identifiers == launchInterest_ ? interestCandidates_ : (asked = candidatesFor(identifiers));
    std::vector<pid_t> unread;
    for (auto& [pid, known] : known_) {
        if (!known.read && isCandidate(pid, known, candidates)) {
            unread.push_back(pid);
        }
    }
    readInFull(unread);
    std::vector<RunningApplication> apps;
    for (const auto& [pid, known] : known_) {
        if (known.app &&
            std::any_of(identifiers.begin(), identifiers.end(),
                        [&](const std::string& id) { return known.app->isKnownAs(id); })) {
            apps.push_back(*known.app);
        }
    }
    return apps;
}

void LinuxWorkspace::setLaunchInterest(std::optional<std::set<std::string>> identifiers) {
    launchInterest_ = std::move(identifiers);
    interestCandidates_ = launchInterest_ ? candidatesFor(*launchInterest_) : Candidates{};
}

LinuxWorkspace::Candidates LinuxWorkspace::candidatesFor(const std::set<std::string>& identifiers) {
    Candidates candidates;
    for (const auto& id : identifiers) {
        auto cached = candidatesById_.find(id);
        if (cached == candidatesById_.end()) {
            cached = candidatesById_.emplace(id, candidatesOf(id)).first;
        }
        candidates.programs.insert(cached->second.programs.begin(), cached->second.programs.end());
        candidates.commands.insert(cached->second.commands.begin(), cached->second.commands.end());
    }
    return candidates;
}

LinuxWorkspace::Candidates LinuxWorkspace::candidatesOf(const std::string& id) const {
    Candidates candidates;
    const auto add = [&candidates](const std::string& name) {
        candidates.programs.insert(name);
        candidates.commands.insert(name.substr(0, 15));
    };
    add(id);  // a program no entry runs goes by its own name
    const auto programs = programsById_.find(id);
    if (programs == programsById_.end()) {
        return candidates;
    }
    for (const auto& program : programs->second) {
        add(program);
        // Started by a link's name the kernel knows it by that; the program it reads, by the
        // file's own.
        std::error_code error;
        if (const fs::path real = fs::canonical(findProgram(program, processes_), error); !error) {
            add(real.filename().string());
        }
    }
    return candidates;
}

bool LinuxWorkspace::isCandidate(pid_t pid, KnownProcess& known, const Candidates& candidates) {
    if (candidates.commands.count(known.info.command) != 0) {
        return true;
    }
    if (!isInterpreter(known.info.command)) {
        return false;
    }
    // Its script names the program; a script run by its #! line is known by its own name.
    if (!known.argumentsRead) {
        known.info.arguments =
            proc::splitNul(readFile(fs::path(options_.procRoot) / std::to_string(pid) / "cmdline"));
        known.argumentsRead = true;
    }
    return known.info.arguments.size() > 1 &&
           candidates.programs.count(baseName(known.info.arguments[1])) != 0;
}

void LinuxWorkspace::readInFull(const std::vector<pid_t>& pids) {
    for (const pid_t pid : pids) {
        KnownProcess& known = known_[pid];
        const fs::path folder = fs::path(options_.procRoot) / std::to_string(pid);
        known.read = true;
        known.ours =
            readProgram(folder, known.info, known.argumentsRead) && known.info.uid == user_;
        known.argumentsRead = true;
        if (known.ours) {
            readEnvironment(folder, known.info);
            known.info.unitEntry = proc::parseApplicationUnit(readFile(folder / "cgroup"));
        }
    }
    // Parents are read before their children are taken for applications or helpers.
    for (const pid_t pid : pids) {
        classify(known_[pid]);
    }
}

void LinuxWorkspace::classify(KnownProcess& known) {
    if (!known.read || !known.ours) {
        known.app.reset();
        return;
    }
    const auto parent = known_.find(known.info.parent);
    const bool parentIsOurs = parent != known_.end() && parent->second.read && parent->second.ours;
    known.app = applicationOf(known.info, parentIsOurs ? &parent->second.info.executable : nullptr,
                              entriesByProgram_, entriesById_);
    if (known.app) {
        watchExit(*known.app, known.info.startTime);
    }
}

// A young process may yet run another program: one caught between a launcher's fork and its exec
// (it has its parent's name), or a wrapper script.
bool LinuxWorkspace::mayExec(const KnownProcess& known) const {
    if (known.app || (known.read && !known.ours)) {
        return false;
    }
    const auto parent = known_.find(known.info.parent);
    return isInterpreter(known.info.command) || known.info.command == "env" ||
           (parent != known_.end() && parent->second.info.command == known.info.command);
}

// The last pid the kernel handed out, from loadavg's last field; nothing where it does not say.
std::optional<long> newestPid(const std::string& procRoot) {
    const std::string text = readFile(procRoot + "/loadavg");
    const auto end = text.find_last_not_of(" \n");
    const auto space = text.find_last_of(' ', end);
    if (end == std::string::npos || space == std::string::npos) {
        return std::nullopt;
    }
    return parseNumber<long>(text.substr(space + 1, end - space));
}

void LinuxWorkspace::readProcesses() {
    const bool reindexed = refreshDesktopEntries();
    const double now = RunLoop::main().uptime();
    // After a long pause a known pid may have been taken again: its start time tells.
    const bool verify = now - lastReading_ > kTrustedReadingSeconds;
    lastReading_ = now;
    // New processes have the pids handed out since the last reading: those are looked at, not
    // the whole of /proc, which is listed now and then to forget the processes that have ended.
    const std::optional<long> newest = newestPid(options_.procRoot);
    const bool probe = !verify && newest && newestPid_ && *newest >= *newestPid_ &&
                       *newest - *newestPid_ <= kProbedPids && now - lastListing_ < kListingSeconds;
    std::vector<pid_t> looked;
    const long since = probe ? *newestPid_ : 0;
    const auto handedOut = [&](pid_t pid) { return probe && pid > since && pid <= *newest; };
    if (probe) {
        for (long pid = since + 1; pid <= *newest; ++pid) {
            looked.push_back(static_cast<pid_t>(pid));
        }
        // A pid is handed out a moment before its process shows in /proc: once more for those.
        looked.insert(looked.end(), unshownPids_.begin(), unshownPids_.end());
        for (const auto& [pid, known] : known_) {
            if (!handedOut(pid) && now - known.firstSeen <= kExecGraceSeconds && mayExec(known)) {
                looked.push_back(pid);
            }
        }
        std::sort(looked.begin(), looked.end());
    } else {
        looked = listProcesses(options_.procRoot);
        std::erase_if(known_, [&](const auto& known) {
            return !std::binary_search(looked.begin(), looked.end(), known.first);
        });
        lastListing_ = now;
    }
    newestPid_ = newest;
    std::vector<pid_t> unshown;
    // Only the processes not seen before are opened; the others are taken from the last reading.
    std::vector<pid_t> fresh;
    for (const pid_t pid : looked) {
        std::optional<ProcessInfo> stat;
        const auto folder = [&] { return fs::path(options_.procRoot + "/" + std::to_string(pid)); };
        if (const auto found = known_.find(pid); found != known_.end()) {
            const KnownProcess& seen = found->second;
            const bool young = now - seen.firstSeen <= kExecGraceSeconds;
            // A pid handed out anew may be that of a process that has ended.
            if (!verify && !handedOut(pid) && !(young && mayExec(seen))) {
                continue;
            }
            stat = readStat(folder(), pid);
            if (!stat) {
                continue;  // unreadable now: it stands as last read
            }
            if (stat->startTime != seen.info.startTime) {
                known_.erase(found);  // another process under the same pid
            } else if (!young || stat->command == seen.info.command) {
                continue;
            }
        } else {
            stat = readStat(folder(), pid);
            if (!stat && probe) {
                // Ended already, not shown yet, or a pid not handed out to a process.
                if (handedOut(pid)) {
                    unshown.push_back(pid);
                }
                continue;
            }
        }
        KnownProcess& known = known_[pid];
        if (known.firstSeen == 0) {
            known.firstSeen = now;
        }
        // Read afresh: it runs another program now.
        known.read = false;
        known.argumentsRead = false;
        known.ours = false;
        known.app.reset();
        if (!stat) {
            known.read = true;  // gone already, or a process that hides its files
            continue;
        }
        known.info = std::move(*stat);
        fresh.push_back(pid);
    }
    unshownPids_ = std::move(unshown);
    if (reindexed) {
        candidatesById_.clear();
        if (launchInterest_) {
            interestCandidates_ = candidatesFor(*launchInterest_);
        }
        // Other entries may make other applications of what runs; none of it is a launch.
        for (auto& [pid, known] : known_) {
            if (!std::binary_search(fresh.begin(), fresh.end(), pid)) {
                classify(known);
            }
        }
    }
    // Read further are those that could be an application of the interest (without one, all).
    std::vector<pid_t> candidates;
    for (const pid_t pid : fresh) {
        KnownProcess& known = known_[pid];
        if (!launchInterest_ || isCandidate(pid, known, interestCandidates_)) {
            candidates.push_back(pid);
        }
    }
    readInFull(candidates);
    std::vector<RunningApplication> launched;
    for (const pid_t pid : candidates) {
        const auto& app = known_[pid].app;
        if (app && (!launchInterest_ ||
                    std::any_of(launchInterest_->begin(), launchInterest_->end(),
                                [&](const std::string& id) { return app->isKnownAs(id); }))) {
            launched.push_back(*app);
        }
    }
    const bool report = launchBaseline_;
    launchBaseline_ = didLaunchApplication.subscriberCount() > 0;
    if (report && launchBaseline_ && !launched.empty()) {
        // Told on the next turn, after whoever asked for the reading has had its list.
        if (pendingLaunches_.empty()) {
            const auto alive = weakRef(*this);
            RunLoop::main().async([this, alive] {
                if (alive) {
                    sendLaunches();
                }
            });
        }
        pendingLaunches_.insert(pendingLaunches_.end(), launched.begin(), launched.end());
    }
    if (launchBaseline_) {
        // The launch watch's next look is due an interval after this reading, not before.
        scheduleLaunchCheck();
    }
}

void LinuxWorkspace::sendLaunches() {
    const std::vector<RunningApplication> launched = std::move(pendingLaunches_);
    pendingLaunches_.clear();
    for (const auto& app : launched) {
        didLaunchApplication.send(app);
    }
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
            const auto alive = weakRef(*this);
            RunLoop::main().async([this, alive, app] {
                if (alive) {
                    known_.erase(app.processIdentifier);
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
        // A process that takes the pid later is new.
        known_.erase(pid);
        didTerminateApplication.send(ended);
    });
    watched->pidfd = std::move(pidfd);
    watched_[pid] = std::move(watched);
}

// The launch watch runs only while someone listens for launches.
void LinuxWorkspace::launchListenersChanged() {
    if (didLaunchApplication.subscriberCount() == 0) {
        launchTimer_.cancel();
        // The next listener starts from a baseline of its own.
        launchBaseline_ = false;
        pendingLaunches_.clear();
    } else if (!launchTimer_.isValid()) {
        scheduleLaunchCheck();
    }
}

void LinuxWorkspace::scheduleLaunchCheck() {
    // Counted from the end of a reading, so that a slow reading never keeps the loop busy.
    launchTimer_ = RunLoop::main().after(options_.launchInterval, [this] { checkLaunches(); });
}

void LinuxWorkspace::checkLaunches() {
    // Reads again and schedules the next look unless listening has ended meanwhile.
    listedThisTurn_ = false;
    listOncePerTurn();
    sendLaunches();
    if (didLaunchApplication.subscriberCount() > 0 && !launchTimer_.isValid()) {
        scheduleLaunchCheck();
    }
}

// Opening applications -------------------------------------------------------------------------

struct LinuxWorkspace::Opening {
    RunningApplication app;  // as it will be reported, its pid still unknown
    std::string program;     // the base name its process runs
    std::set<pid_t> before;  // the processes that ran when it was started
    double deadline = 0;     // on the uptime clock
    Timer timer;
    OpenCompletion completion;
};

std::vector<std::string> LinuxWorkspace::applicationFolders() {
    std::vector<std::string> folders;
    for (auto it = options_.applicationFolders.rbegin(); it != options_.applicationFolders.rend();
         ++it) {
        std::error_code error;
        if (fs::is_directory(*it, error)) {
            folders.push_back(fs::path(*it).lexically_normal().string());
        }
    }
    return folders;
}

void LinuxWorkspace::installedApplications(ApplicationsCompletion completion) {
    xdg::ApplicationListing listing{options_.applicationFolders, options_.iconFolders,
                                    options_.desktop, *options_.locales, programPath()};
    if (!listingQueue_) {
        listingQueue_ = RunLoop::main().makeSerialQueue("orvel.applications");
    }
    listingQueue_->post([listing = std::move(listing), completion = std::move(completion),
                         alive = weakRef(*this)]() mutable {
        auto apps = xdg::listApplications(listing);
        RunLoop::main().async(
            [alive, apps = std::move(apps), completion = std::move(completion)]() mutable {
                if (alive.get() != nullptr) {
                    completion(std::move(apps));
                }
            });
    });
}

std::string LinuxWorkspace::entryID(const std::string& path) const {
    const fs::path file(path);
    for (const auto& listed : options_.applicationFolders) {
        const fs::path relative = file.lexically_relative(fs::path(listed).lexically_normal());
        if (!relative.empty() && *relative.begin() != "..") {
            std::string id = fs::path(relative).replace_extension().string();
            std::replace(id.begin(), id.end(), '/', '-');
            return id;
        }
    }
    return file.stem().string();
}

void LinuxWorkspace::openApplication(std::string_view url, OpenCompletion completion) {
    auto opening = std::make_unique<Opening>();
    Opening* raw = opening.get();
    opening->completion = std::move(completion);
    openings_.push_back(std::move(opening));

    const std::string path(url);
    const auto keys = xdg::readDesktopEntry(path);
    const auto value = [&keys](const char* key) {
        auto it = keys.find(key);
        return it == keys.end() ? std::string() : it->second;
    };
    const std::string name = value("Name").empty() ? fs::path(path).stem().string() : value("Name");
    const auto fail = [this, raw](std::string message) {
        // Never before openApplication() returns.
        raw->timer = RunLoop::main().after(
            0, [this, raw, message] { finishOpening(raw, Error{message}); }, TimerMode::Common);
    };
    if (keys.empty()) {
        return fail(localizedFormat("No application is installed at %@.", {path}));
    }
    const std::vector<std::string> words = xdg::launchWords(value("Exec"));
    if (words.empty() || words.front().empty()) {
        return fail(localizedFormat(
            "%@ cannot be started: its desktop entry has no command to run.", {name}));
    }
    const std::string executable = findProgram(words.front(), processes_);
    if (executable.empty()) {
        return fail(localizedFormat("%1$@ cannot be started: %2$@ is not installed.",
                                    {name, words.front()}));
    }
    raw->app.bundleIdentifier = entryID(path);
    raw->app.localizedName = name;
    raw->app.activationPolicy =
        value("NoDisplay") == "true" ? ActivationPolicy::accessory : ActivationPolicy::regular;
    raw->app.bundleURL = path;
    raw->program = execProgram(value("Exec"));
    const std::vector<pid_t> running = listProcesses(options_.procRoot);
    raw->before.insert(running.begin(), running.end());
    auto launched =
        processes_.launchDetached(LaunchRequest{executable, {words.begin() + 1, words.end()}});
    if (!launched) {
        return fail(
            localizedFormat("%1$@ cannot be started: %2$@.", {name, launched.error().message}));
    }
    raw->deadline = RunLoop::main().uptime() + options_.openTimeout;
    raw->timer = RunLoop::main().after(
        0, [this, raw] { lookForOpened(raw); }, TimerMode::Common);
}

// Only processes started since the launch are opened, and each only until it runs the program
// (a child shows the launcher's executable until its exec).
void LinuxWorkspace::lookForOpened(Opening* opening) {
    for (const pid_t pid : listProcesses(options_.procRoot)) {
        if (opening->before.count(pid) != 0) {
            continue;
        }
        const auto info = readProcess(fs::path(options_.procRoot) / std::to_string(pid), pid);
        if (!info || info->uid != user_) {
            continue;
        }
        std::string program = info->executable;
        if (isInterpreter(program) && info->arguments.size() > 1) {
            program = baseName(info->arguments[1]);
        }
        if (program == opening->program) {
            RunningApplication app = opening->app;
            app.processIdentifier = pid;
            watchExit(app, info->startTime);
            return finishOpening(opening, app);
        }
    }
    if (RunLoop::main().uptime() >= opening->deadline) {
        return finishOpening(
            opening, Error{localizedFormat(
                         "%1$@ did not start within %2$@ seconds.",
                         {*opening->app.localizedName, formatSeconds(options_.openTimeout)})});
    }
    opening->timer = RunLoop::main().after(
        options_.openInterval, [this, opening] { lookForOpened(opening); }, TimerMode::Common);
}

void LinuxWorkspace::finishOpening(Opening* opening, Result<RunningApplication> result) {
    auto it = std::find_if(openings_.begin(), openings_.end(),
                           [opening](const auto& o) { return o.get() == opening; });
    if (it == openings_.end()) {
        return;
    }
    std::unique_ptr<Opening> done = std::move(*it);
    openings_.erase(it);
    done->completion(std::move(result));
}

// Opening URLs ---------------------------------------------------------------------------------

Result<void> LinuxWorkspace::openURL(std::string_view url) {
    if (url.empty() || url.front() == '-' || std::any_of(url.begin(), url.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
        })) {
        return Error{localizedFormat("\u201c%@\u201d is not an address that can be opened.",
                                     {std::string(url)})};
    }
    if (!processes_.isExecutableFile(options_.opener)) {
        return Error{
            localizedFormat("Opening addresses is not available on this system (%@ is missing).",
                            {options_.opener})};
    }
    if (auto launched =
            processes_.launchDetached(LaunchRequest{options_.opener, {std::string(url)}});
        !launched) {
        return launched.error();
    }
    return {};
}

namespace {

struct SettingsPanel {
    std::string_view anchor;
    std::string_view gnome;  // gnome-control-center's panel; empty: none
    std::string_view kde;    // systemsettings' module; empty: none
};

constexpr SettingsPanel kSettingsPanels[] = {
    {"Privacy_LocationServices", "location", ""},
    {"Privacy_Bluetooth", "bluetooth", "kcm_bluetooth"},
    {"Notifications", "notifications", "kcm_notifications"},
};

bool desktopIs(std::string_view desktops, std::string_view name) {
    while (!desktops.empty()) {
        const auto colon = desktops.find(':');
        if (equalIgnoringCase(desktops.substr(0, colon), name)) {
            return true;
        }
        desktops =
            colon == std::string_view::npos ? std::string_view() : desktops.substr(colon + 1);
    }
    return false;
}

}  // namespace

Result<void> LinuxWorkspace::openSettingsPanel(std::string_view anchor) {
    const std::string& desktop = options_.desktop;
    const auto* panel = std::find_if(std::begin(kSettingsPanels), std::end(kSettingsPanels),
                                     [&](const SettingsPanel& p) { return p.anchor == anchor; });
    std::vector<std::string> programs;
    std::string_view argument;
    if (panel == std::end(kSettingsPanels)) {
        return Error{
            localizedFormat("This desktop has no settings for %@.", {std::string(anchor)})};
    }
    if (desktopIs(desktop, "GNOME") && !panel->gnome.empty()) {
        programs = {"gnome-control-center"};
        argument = panel->gnome;
    } else if (desktopIs(desktop, "KDE") && !panel->kde.empty()) {
        programs = {"systemsettings", "systemsettings5"};
        argument = panel->kde;
    } else {
        return Error{
            desktop.empty()
                ? localizedFormat("This desktop has no settings for %@.", {std::string(anchor)})
                : localizedFormat("This desktop (%1$@) has no settings for %2$@.",
                                  {desktop, std::string(anchor)})};
    }
    for (const std::string& program : programs) {
        const std::string path = findProgram(program, processes_);
        if (path.empty()) {
            continue;
        }
        if (auto launched = processes_.launchDetached(LaunchRequest{path, {std::string(argument)}});
            !launched) {
            return launched.error();
        }
        return {};
    }
    return Error{
        localizedFormat("The desktop's settings program (%@) is missing.", {programs.front()})};
}

// Bundles -------------------------------------------------------------------------------------

std::optional<ApplicationBundle> LinuxWorkspace::bundle(std::string_view url) {
    std::string path(url);
    if (path.rfind("file://", 0) == 0) {
        path.erase(0, 7);
    }
    if (path.empty() || path.front() != '/') {
        return std::nullopt;
    }
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        return std::nullopt;
    }
    ApplicationBundle found;
    found.url = std::string(url);
    const fs::path file(path);
    if (file.extension() == ".desktop") {
        const auto keys = xdg::readDesktopEntry(path);
        const auto value = [&keys](const char* key) {
            auto it = keys.find(key);
            return it == keys.end() ? std::string() : it->second;
        };
        if (value("Type") != "Application") {
            return std::nullopt;
        }
        found.info["CFBundleIdentifier"] = entryID(path);
        found.info["CFBundleName"] = value("Name");
        if (auto name = xdg::localizedValue(keys, "Name", *options_.locales);
            !name.empty() && name != value("Name")) {
            found.info["CFBundleDisplayName"] = name;
        }
        found.info["LSUIElement"] = value("NoDisplay") == "true";
        return found;
    }
    if (::access(path.c_str(), X_OK) != 0) {
        return std::nullopt;
    }
    found.info["CFBundleIdentifier"] = file.filename().string();
    found.info["CFBundleName"] = file.filename().string();
    found.info["LSBackgroundOnly"] = true;
    return found;
}

// Sleep and wake -------------------------------------------------------------------------------

// Sleep is followed, and logind's delay lock held, only while someone listens for sleep or wake:
// nothing of Orvel shows in logind's list before a service wants to hear of sleep.
void LinuxWorkspace::clockListenersChanged() {
    if (clockDidChange.subscriberCount() == 0) {
        clockWatch_ = FdWatch();
        clockTimer_ = UniqueFd();
        return;
    }
    if (clockTimer_) {
        return;
    }
    clockTimer_ = UniqueFd(::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!clockTimer_ || !armClockWatch()) {
        log_.error(std::string("Changes of the clock are not noticed (") + std::strerror(errno) +
                   ").");
        clockTimer_ = UniqueFd();
        return;
    }
    clockWatch_ = RunLoop::main().watchFd(clockTimer_.get(), kFdReadable, [this](unsigned) {
        std::uint64_t expirations = 0;
        const bool set =
            ::read(clockTimer_.get(), &expirations, sizeof expirations) < 0 && errno == ECANCELED;
        // A cancelled timer stays cancelled until it is armed again.
        armClockWatch();
        if (set) {
            clockDidChange.send();
        }
    });
}

bool LinuxWorkspace::armClockWatch() {
    itimerspec when{};
    when.it_value.tv_sec =
        static_cast<time_t>(RunLoop::main().now().unixTime()) + 100L * 365 * 86400;
    return ::timerfd_settime(clockTimer_.get(), TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when,
                             nullptr) == 0;
}

void LinuxWorkspace::sleepListenersChanged() {
    const bool listening = willSleep.subscriberCount() + didWake.subscriberCount() > 0;
    if (listening == followingSleep_) {
        return;
    }
    followingSleep_ = listening;
    if (listening) {
        if (logind_) {
            followLogind();
        }
    } else {
        sleepSignal_.reset();
        delayRequest_.reset();
        delayLock_.reset();
    }
}

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
    if (!followingSleep_) {
        return;
    }
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
        if (followingSleep_) {
            takeDelayLock();
        }
    }
}

}  // namespace orvel
