#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/PropertyList.h"
#include "foundation/Result.h"
#include "foundation/Signal.h"

// Running and installed applications and the system's sleep and wake. Threading: main thread
// only; the signals and completions are sent on the main thread.

namespace orvel {

enum class ActivationPolicy { regular, accessory, prohibited };

struct RunningApplication {
    std::int32_t processIdentifier = 0;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    // regular: shows a window or a task bar entry; the others run in the background.
    ActivationPolicy activationPolicy = ActivationPolicy::regular;
    // Where the application is installed (on Linux its desktop entry's path); nothing when it
    // was not started from one.
    std::optional<std::string> bundleURL;
    // Other identifiers it goes by: on Linux the other desktop entries that run the same program
    // (a settings launcher, a "new window" entry), which a rule may have been made with.
    std::vector<std::string> otherBundleIdentifiers;

    bool isKnownAs(std::string_view identifier) const {
        return bundleIdentifier == identifier ||
               std::find(otherBundleIdentifiers.begin(), otherBundleIdentifiers.end(),
                         identifier) != otherBundleIdentifiers.end();
    }
    bool operator==(const RunningApplication&) const = default;
};

// An application's bundle as the system describes it: where it is and the keys of its
// information list ("CFBundleIdentifier", "LSUIElement", "LSBackgroundOnly" …).
struct ApplicationBundle {
    std::string url;
    PropertyDictionary info;
};

// An application the desktop's menus offer.
struct InstalledApplication {
    // Where it is installed, as bundleURL gives it (on Linux its desktop entry's path).
    std::string url;
    std::string bundleIdentifier;
    // In the user's language where the entry has it.
    std::string localizedName;
    // The icon theme's name for its icon; empty when it names a file or none.
    std::string iconName;
    // A picture file of its icon; empty when none was found.
    std::string iconFile;
    // It runs in a terminal, which openApplication() does not open: it can be watched while it
    // runs, not started.
    bool runsInTerminal = false;

    bool operator==(const InstalledApplication&) const = default;
};

class Workspace {
  public:
    virtual ~Workspace() = default;

    // The running applications, in the system's order.
    virtual std::vector<RunningApplication> runningApplications() = 0;
    // Those of the running applications known by one of these identifiers, as picked from
    // runningApplications(); a backend may find them at less cost.
    virtual std::vector<RunningApplication> runningApplicationsKnownAs(
        const std::set<std::string>& identifiers) {
        std::vector<RunningApplication> apps = runningApplications();
        std::erase_if(apps, [&](const RunningApplication& app) {
            return std::none_of(identifiers.begin(), identifiers.end(),
                                [&](const std::string& id) { return app.isKnownAs(id); });
        });
        return apps;
    }
    // The applications whose launches didLaunchApplication must tell; others it may leave out.
    // Nothing: every application (as at start).
    virtual void setLaunchInterest(std::optional<std::set<std::string>> identifiers) {
        (void)identifiers;
    }

    // Opens a web address (or any URL) in the user's preferred application. Success means the
    // request was handed over, not that an application showed it.
    virtual Result<void> openURL(std::string_view url) = 0;

    // Opens the desktop's own settings where the privacy setting named by `anchor` is made
    // ("Privacy_LocationServices", "Privacy_Bluetooth", "Notifications" …); why not, in words,
    // when this desktop has no such place or its settings program cannot start.
    virtual Result<void> openSettingsPanel(std::string_view anchor) = 0;

    // The folders installed applications are in; the first holds most of them.
    virtual std::vector<std::string> applicationFolders() = 0;
    // Starts the application installed at `url` (a path, as bundleURL gives it). The completion
    // runs once, on the main loop and never before this returns: with the application once it
    // runs, or with why it could not be started, in words.
    using OpenCompletion = std::function<void(Result<RunningApplication>)>;
    virtual void openApplication(std::string_view url, OpenCompletion completion) = 0;
    // The installed applications the desktop's menus offer, in no particular order; each opens
    // by bundle() and, unless it runs in a terminal, can be started by openApplication(). The
    // completion runs once, on the main loop and never before this returns; the reading does not
    // hold up the main loop.
    using ApplicationsCompletion = std::function<void(std::vector<InstalledApplication>)>;
    virtual void installedApplications(ApplicationsCompletion completion) = 0;
    // The bundle at this URL; nothing when it cannot be opened.
    virtual std::optional<ApplicationBundle> bundle(std::string_view url) = 0;

    // The machine is about to sleep. Handlers finish their work before the machine sleeps.
    Signal<> willSleep;
    // The machine has woken.
    Signal<> didWake;
    // The wall clock was set (by hand, by time synchronisation, or on waking): a time reached by
    // a timer on the monotonic clock no longer tells where the wall clock stands.
    Signal<> clockDidChange;
    // An application has launched or terminated.
    Signal<RunningApplication> didLaunchApplication;
    Signal<RunningApplication> didTerminateApplication;
};

}  // namespace orvel
