// Which of the processes read are applications, and what becomes of them: the running
// applications asked for, and the exit watch of each one returned.

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/LinuxWorkspaceProc.h"
#include "platform/linux/ProcFiles.h"

namespace orvel {

namespace fs = std::filesystem;
using namespace procread;

namespace {

using EntriesByProgram = std::map<std::string, std::vector<LinuxWorkspace::DesktopEntry>>;

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

}  // namespace

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

}  // namespace orvel
