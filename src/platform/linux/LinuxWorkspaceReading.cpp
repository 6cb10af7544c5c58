// A reading of /proc, at most once a turn of the loop: which processes are new since the last
// one, read as little as tells whether they may be applications; and the launch watch, which
// takes a reading every interval while someone listens for launches.

#include <algorithm>
#include <filesystem>

#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/LinuxWorkspaceProc.h"

namespace orvel {

namespace fs = std::filesystem;
using namespace procread;

namespace {

// How long a new process is watched for running another program: a launcher's fork before its
// exec, or a wrapper script that execs the real program after a moment.
constexpr double kExecGraceSeconds = 10;

}  // namespace

// How a reading looks at /proc.
struct LinuxWorkspace::Look {
    double now = 0;  // on the run loop's uptime clock
    // After a long pause a known pid may have been taken again: its start time tells.
    bool verify = false;
    // Only the pids handed out since the last reading (after `since`, up to `newest`), not the
    // whole of /proc.
    bool probe = false;
    long since = 0;
    long newest = 0;

    bool handedOut(pid_t pid) const { return probe && pid > since && pid <= newest; }
};

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

void LinuxWorkspace::readProcesses() {
    const bool reindexed = refreshDesktopEntries();
    Look look;
    look.now = RunLoop::main().uptime();
    look.verify = look.now - lastReading_ > kTrustedReadingSeconds;
    lastReading_ = look.now;
    // New processes have the pids handed out since the last reading: those are looked at, not
    // the whole of /proc, which is listed now and then to forget the processes that have ended.
    const std::optional<long> newest = newestPid(options_.procRoot);
    look.probe = !look.verify && newest && newestPid_ && *newest >= *newestPid_ &&
                 *newest - *newestPid_ <= kProbedPids && look.now - lastListing_ < kListingSeconds;
    if (look.probe) {
        look.since = *newestPid_;
        look.newest = *newest;
    }
    const std::vector<pid_t> looked = pidsToLookAt(look);
    newestPid_ = newest;
    const std::vector<pid_t> fresh = readNewProcesses(look, looked);
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
    noteLaunches(candidates);
}

std::vector<pid_t> LinuxWorkspace::pidsToLookAt(const Look& look) {
    std::vector<pid_t> looked;
    if (!look.probe) {
        looked = listProcesses(options_.procRoot);
        std::erase_if(known_, [&](const auto& known) {
            return !std::binary_search(looked.begin(), looked.end(), known.first);
        });
        lastListing_ = look.now;
        return looked;
    }
    for (long pid = look.since + 1; pid <= look.newest; ++pid) {
        looked.push_back(static_cast<pid_t>(pid));
    }
    // A pid is handed out a moment before its process shows in /proc: once more for those.
    looked.insert(looked.end(), unshownPids_.begin(), unshownPids_.end());
    for (const auto& [pid, known] : known_) {
        if (!look.handedOut(pid) && look.now - known.firstSeen <= kExecGraceSeconds &&
            mayExec(known)) {
            looked.push_back(pid);
        }
    }
    std::sort(looked.begin(), looked.end());
    return looked;
}

std::vector<pid_t> LinuxWorkspace::readNewProcesses(const Look& look,
                                                    const std::vector<pid_t>& pids) {
    std::vector<pid_t> unshown;
    // Only the processes not seen before are opened; the others are taken from the last reading.
    std::vector<pid_t> fresh;
    for (const pid_t pid : pids) {
        std::optional<ProcessInfo> stat;
        const auto folder = [&] { return fs::path(options_.procRoot + "/" + std::to_string(pid)); };
        if (const auto found = known_.find(pid); found != known_.end()) {
            const KnownProcess& seen = found->second;
            const bool young = look.now - seen.firstSeen <= kExecGraceSeconds;
            // A pid handed out anew may be that of a process that has ended.
            if (!look.verify && !look.handedOut(pid) && !(young && mayExec(seen))) {
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
            if (!stat && look.probe) {
                // Ended already, not shown yet, or a pid not handed out to a process.
                if (look.handedOut(pid)) {
                    unshown.push_back(pid);
                }
                continue;
            }
        }
        KnownProcess& known = known_[pid];
        if (known.firstSeen == 0) {
            known.firstSeen = look.now;
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
    return fresh;
}

void LinuxWorkspace::noteLaunches(const std::vector<pid_t>& pids) {
    std::vector<RunningApplication> launched;
    for (const pid_t pid : pids) {
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

// The launch watch ---------------------------------------------------------------------------

void LinuxWorkspace::sendLaunches() {
    const std::vector<RunningApplication> launched = std::move(pendingLaunches_);
    pendingLaunches_.clear();
    for (const auto& app : launched) {
        didLaunchApplication.send(app);
    }
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

}  // namespace orvel
