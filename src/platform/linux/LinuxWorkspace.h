#pragma once

#include <sys/types.h>

#include <list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/SerialQueue.h"
#include "foundation/WeakRef.h"
#include "platform/Processes.h"
#include "platform/Workspace.h"
#include "platform/linux/DBusConnection.h"
#include "platform/linux/UniqueFd.h"

namespace orvel {

struct LinuxWorkspaceOptions {
    std::string procRoot = "/proc";
    // applications/ folders, most preferred first; empty: those of the XDG data folders.
    std::vector<std::string> applicationFolders;
    // Folders of icon themes and loose pictures, most preferred first; empty: ~/.icons and the
    // XDG data folders' icons/ and pixmaps/.
    std::vector<std::string> iconFolders;
    // The locales of entries' names (xdg::entryLocales); nothing: from the environment.
    std::optional<std::vector<std::string>> locales;
    // Whose processes count; -1: the user running Orvel.
    long user = -1;
    std::string opener = "/usr/bin/xdg-open";
    // The desktop as XDG_CURRENT_DESKTOP names it; empty: read from the environment.
    std::string desktop;
    // How often to look for launched applications while someone listens for launches.
    double launchInterval = 5.0;
    // How long an application opened by openApplication() may take to show up as a process, and
    // how often to look for it meanwhile.
    double openTimeout = 10.0;
    double openInterval = 0.1;
};

// Applications and sleep on a Linux desktop.
//
// Sleep and wake come from logind's PrepareForSleep, followed only while willSleep or didWake has
// listeners. Between sleeps a logind "delay" lock is then held, so logind waits for Orvel:
// willSleep is sent, then the lock is released at once; after didWake it is taken again.
//
// An application is a process of the user's own that either runs a program some desktop entry
// launches (its bundle identifier is the entry's id, e.g. "org.gnome.Meld", its name the entry's
// Name; "regular", or "accessory" for an entry with NoDisplay=true), or that runs in the
// graphical session (DISPLAY or WAYLAND_DISPLAY set) without a controlling terminal (identifier
// and name are the executable's name; "accessory"). A process whose parent runs the same
// executable is a helper of that application and is left out. Programs run by an interpreter
// (python, perl, sh…) are known by their script. Of several entries that run one program, the
// one the system says the process was started from (the launcher's GIO_LAUNCHED_DESKTOP_FILE, the
// desktop's systemd unit for it) names it, else the one whose Exec options it runs with; the
// others are its otherBundleIdentifiers.
//
// Every application returned (by runningApplications() or the launch watch) is watched through
// a pidfd, and its exit sends didTerminateApplication. A reading (once a turn) looks at the pids
// handed out since the last one (loadavg's last pid; where it does not say, or after a minute, it
// lists /proc) and opens only the processes it has not seen before (known by pid and start time),
// and of those first only their stat: a process is read further (uid, command line, program,
// environment, unit) only when its name there could be one of the applications asked for (a
// program one of their entries runs, or an interpreter whose script could be), or when all are
// asked for. Launches are the new processes, told while didLaunchApplication has subscribers
// (the first reading after subscribing is the baseline), and only of the launch interest: on
// the turn after the reading that found them, by a reading launchInterval seconds after the last
// one. Desktop entries are indexed once, and again only after their folders change.
//
// Clock changes come from a timerfd on the wall clock that the kernel cancels whenever the clock
// is set (also on waking), followed only while clockDidChange has listeners.
//
// openApplication() runs a desktop entry's Exec line (field codes dropped) as a detached child and
// completes once a new process of the user's runs the entry's program, or after openTimeout.
class LinuxWorkspace final : public Workspace, public WeakReferenceable {
  public:
    LinuxWorkspace(std::shared_ptr<DBusConnection> systemBus, Processes& processes,
                   LinuxWorkspaceOptions options = {});
    ~LinuxWorkspace() override;

    std::vector<RunningApplication> runningApplications() override;
    std::vector<RunningApplication> runningApplicationsKnownAs(
        const std::set<std::string>& identifiers) override;
    void setLaunchInterest(std::optional<std::set<std::string>> identifiers) override;
    // Hands the URL to xdg-open.
    Result<void> openURL(std::string_view url) override;
    // GNOME's gnome-control-center or KDE's systemsettings at the matching panel, found on the
    // PATH; other desktops, and anchors these have no panel for, have none.
    Result<void> openSettingsPanel(std::string_view anchor) override;
    void openApplication(std::string_view url, OpenCompletion completion) override;
    // Read on a worker thread of its own (xdg::listApplications).
    void installedApplications(ApplicationsCompletion completion) override;
    // Those of the entry folders that exist, the least preferred (the system's own) first.
    std::vector<std::string> applicationFolders() override;
    // A desktop entry (a path or file: URL of a .desktop file) or a bare executable. An entry
    // with NoDisplay=true is "LSUIElement"; a bare executable, which shows no entry at all,
    // "LSBackgroundOnly". An entry's identifier is its desktop id, and its name in the user's
    // language its "CFBundleDisplayName".
    std::optional<ApplicationBundle> bundle(std::string_view url) override;

    // Whether the delay lock is held now (it is, between sleeps, while logind runs).
    bool holdsSleepDelay() const { return delayLock_.isValid(); }

    struct DesktopEntry {
        std::string id;
        std::string name;
        bool noDisplay = false;
        std::string path;
        // The options its Exec line always passes ("--preferences").
        std::vector<std::string> arguments;
    };
    // What a reading takes from a process's /proc files.
    struct ProcessInfo {
        pid_t pid = 0;
        pid_t parent = 0;
        int tty = 0;
        std::uint64_t startTime = 0;
        uid_t uid = 0;
        std::string command;     // the kernel's name for it, at most 15 bytes
        std::string executable;  // base name
        std::vector<std::string> arguments;
        // From its environment, read once: a display of the session, and the entry a launcher
        // named.
        bool graphical = false;
        std::optional<std::string> launchedEntry;
        // The application id of the desktop's systemd unit it runs in.
        std::optional<std::string> unitEntry;
    };
    // What a process's kernel name must be for it to be one of some applications: the programs
    // their entries run (and the files those are links to), and their identifiers as bare
    // programs, each as a full name and cut to the kernel's 15 bytes.
    struct Candidates {
        std::set<std::string> programs;
        std::set<std::string> commands;
    };

  private:
    struct Opening;
    struct KnownProcess;
    struct Look;

    void readProcesses();
    // The pids a reading looks at; a listing of all of /proc also forgets the processes that
    // have ended.
    std::vector<pid_t> pidsToLookAt(const Look& look);
    // Takes the stat of each of these processes not seen before (or seen running another
    // program); the pids read afresh, ascending.
    std::vector<pid_t> readNewProcesses(const Look& look, const std::vector<pid_t>& pids);
    // Holds the launches of the interest among these, to be told on the next turn, and times the
    // launch watch's next look.
    void noteLaunches(const std::vector<pid_t>& pids);
    void listOncePerTurn();
    Candidates candidatesFor(const std::set<std::string>& identifiers);
    Candidates candidatesOf(const std::string& identifier) const;
    bool isCandidate(pid_t pid, KnownProcess& known, const Candidates& candidates);
    // Reads further and takes for an application each of these pids not read in full yet.
    void readInFull(const std::vector<pid_t>& pids);
    void classify(KnownProcess& known);
    bool mayExec(const KnownProcess& known) const;
    bool refreshDesktopEntries();
    bool desktopEntriesChanged();
    void loadDesktopEntries();
    bool watchEntryFolder(const std::string& folder);
    void entriesUnwatched(const std::string& why);
    void watchExit(const RunningApplication& app, std::uint64_t startTime);
    void launchListenersChanged();
    void scheduleLaunchCheck();
    void checkLaunches();
    void sendLaunches();
    void followLogind();
    void takeDelayLock();
    void sleepListenersChanged();
    void clockListenersChanged();
    bool armClockWatch();
    void prepareForSleep(bool sleeping);
    void lookForOpened(Opening* opening);
    void finishOpening(Opening* opening, Result<RunningApplication> result);
    std::string entryID(const std::string& path) const;

    std::shared_ptr<DBusConnection> bus_;
    Processes& processes_;
    LinuxWorkspaceOptions options_;
    uid_t user_;
    // Every entry that runs a program, most preferred first.
    std::map<std::string, std::vector<DesktopEntry>> entriesByProgram_;
    std::map<std::string, DesktopEntry> entriesById_;
    // The programs each entry runs, by its id.
    std::map<std::string, std::vector<std::string>> programsById_;
    // The queries of one turn of the loop share one listing of /proc.
    bool listedThisTurn_ = false;
    std::optional<std::set<std::string>> launchInterest_;
    Candidates interestCandidates_;
    std::map<std::string, Candidates> candidatesById_;  // until the entries are indexed again
    bool entriesIndexed_ = false;
    // Changes in the indexed folders (inotify, made anew with each index); while a folder cannot
    // be watched, the entries are indexed at every reading.
    UniqueFd entryChanges_;
    bool entriesWatched_ = false;
    bool entryWatchFailureLogged_ = false;
    std::vector<std::string> missingFolders_;  // looked for at each reading

    // An application whose exit is watched.
    struct Watched {
        RunningApplication app;
        std::uint64_t startTime = 0;
        UniqueFd pidfd;
        FdWatch watch;
    };
    std::map<pid_t, std::unique_ptr<Watched>> watched_;
    // Every process of the last reading, by pid, with what was read of it when first seen: a
    // reading opens only the processes it has not seen before.
    struct KnownProcess {
        // Read beyond its stat (then `ours` and all of `info` hold), and its command line read.
        bool read = false;
        bool argumentsRead = false;
        bool ours = false;
        ProcessInfo info;
        std::optional<RunningApplication> app;
        double firstSeen = 0;  // on the run loop's uptime clock
    };
    // A reading this soon after the last one trusts that a known pid is still the same process
    // (taking a pid again takes a whole cycle of them); a later one checks start times.
    static constexpr double kTrustedReadingSeconds = 30;
    std::map<pid_t, KnownProcess> known_;
    double lastReading_ = -kTrustedReadingSeconds - 1;
    // Readings look only at the pids handed out since the last one (at most kProbedPids, else
    // they list /proc), and list /proc at least every kListingSeconds.
    static constexpr long kProbedPids = 512;
    static constexpr double kListingSeconds = 60;
    std::optional<long> newestPid_;
    std::vector<pid_t> unshownPids_;  // handed out, but not readable yet at the last reading
    double lastListing_ = 0;
    // Launches found and not told yet, and whether the launch watch's baseline is taken.
    std::vector<RunningApplication> pendingLaunches_;
    bool launchBaseline_ = false;
    Timer launchTimer_;
    // An application started by openApplication() and not found running yet.
    struct Opening {
        RunningApplication app;  // as it will be reported, its pid still unknown
        std::string program;     // the base name its process runs
        std::set<pid_t> before;  // the processes that ran when it was started
        double deadline = 0;     // on the uptime clock
        Timer timer;
        OpenCompletion completion;
    };
    std::list<std::unique_ptr<Opening>> openings_;
    std::shared_ptr<SerialQueue> listingQueue_;

    std::shared_ptr<BusName> logind_;
    Subscription logindWatch_;
    DBusSlot sleepSignal_;
    DBusSlot delayRequest_;
    UniqueFd delayLock_;
    bool sleeping_ = false;
    bool followingSleep_ = false;
    bool logindReported_ = false;
    // A wall-clock timer far ahead that the kernel cancels when the clock is set, while someone
    // listens for clock changes.
    UniqueFd clockTimer_;
    FdWatch clockWatch_;
    Logger log_{"workspace"};
};

}  // namespace orvel
