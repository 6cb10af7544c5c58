#pragma once

#include <cstddef>
#include <list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/RunLoop.h"
#include "platform/Workspace.h"

namespace orvel {

// Simulated applications and sleep. Tests launch and quit applications and put the machine to
// sleep for a while (the virtual clock's wall time moves on meanwhile).
class SimWorkspace final : public Workspace {
  public:
    std::vector<RunningApplication> runningApplications() override {
        ++scans_;
        return apps_;
    }
    void setLaunchInterest(std::optional<std::set<std::string>> identifiers) override {
        launchInterest_ = std::move(identifiers);
    }
    Result<void> openURL(std::string_view url) override;
    // Launches the application installed at the path (after the scripted delay, at the
    // earliest on the next turn) or fails as scripted; a path with nothing installed fails.
    void openApplication(std::string_view url, OpenCompletion completion) override;
    std::vector<std::string> applicationFolders() override { return {"/sim/applications"}; }
    // What install() installed, on the next turn.
    void installedApplications(ApplicationsCompletion completion) override;
    // A bundle set with setBundle(), else that of an installed application.
    std::optional<ApplicationBundle> bundle(std::string_view url) override;

    // Control surface for tests.
    // Whether a launch or quit is announced: background applications come and go unannounced.
    enum class Notice { sent, silent };
    RunningApplication launch(std::optional<std::string> bundleIdentifier,
                              std::optional<std::string> localizedName,
                              ActivationPolicy policy = ActivationPolicy::regular,
                              std::optional<std::string> bundleURL = std::nullopt,
                              Notice notice = Notice::sent);
    RunningApplication launch(std::optional<std::string> bundleIdentifier,
                              std::optional<std::string> localizedName, ActivationPolicy policy,
                              Notice notice) {
        return launch(std::move(bundleIdentifier), std::move(localizedName), policy, std::nullopt,
                      notice);
    }
    // This application under a process identifier of its own.
    RunningApplication launch(RunningApplication app, Notice notice = Notice::sent);
    // The identifiers of the last setLaunchInterest(); nothing: every application.
    const std::optional<std::set<std::string>>& launchInterest() const { return launchInterest_; }
    // An application that the installed applications list and that openApplication() can start
    // from this path (unless it runs in a terminal). Its icon is a theme's name, or a picture
    // file's path.
    void install(std::string url, std::string bundleIdentifier, std::string localizedName,
                 std::string icon = {}, bool runsInTerminal = false);
    // The next openApplication() fails with this message.
    void failNextOpenApplication(std::string message) {
        nextOpenApplicationFailure_ = std::move(message);
    }
    // How long applications take to start from now on.
    void setOpenApplicationDelay(double seconds) { openDelay_ = seconds; }
    // The paths openApplication() was asked for, in order.
    const std::vector<std::string>& openedApplications() const { return openedApplications_; }
    // How many times the running applications were asked for.
    std::size_t scans() const { return scans_; }
    // Quits the application with this process identifier; false when none runs.
    bool quit(std::int32_t processIdentifier, Notice notice = Notice::sent);
    // Installs (or, with nothing, removes) the bundle at this URL.
    void setBundle(const std::string& url, std::optional<PropertyDictionary> info);
    // Sends will-sleep, lets `seconds` of wall time pass with the timers standing still, then
    // sends did-wake.
    void sleepFor(double seconds);
    // Sets the wall clock, the timers standing where they are, and sends clock-did-change.
    void setClock(Date date);
    // The URLs opened so far, in order.
    const std::vector<std::string>& openedURLs() const { return openedURLs_; }
    // The next openURL() fails with this message.
    void failNextOpen(std::string message) { nextOpenFailure_ = std::move(message); }
    // Every openURL() fails while set.
    void setOpensFail(bool fail) { opensFail_ = fail; }
    // Settings panels open only for the anchors given here; the anchors opened, in order.
    Result<void> openSettingsPanel(std::string_view anchor) override;
    void setSettingsPanels(std::vector<std::string> anchors) { panels_ = std::move(anchors); }
    const std::vector<std::string>& openedPanels() const { return openedPanels_; }

  private:
    std::vector<RunningApplication> apps_;
    std::optional<std::set<std::string>> launchInterest_;
    std::map<std::string, PropertyDictionary, std::less<>> bundles_;
    std::vector<std::string> openedURLs_;
    std::optional<std::string> nextOpenFailure_;
    bool opensFail_ = false;
    std::vector<std::string> panels_;
    std::vector<std::string> openedPanels_;
    struct Installed {
        std::string bundleIdentifier;
        std::string localizedName;
        std::string icon;
        bool runsInTerminal = false;
    };
    std::map<std::string, Installed, std::less<>> installed_;
    std::optional<std::string> nextOpenApplicationFailure_;
    double openDelay_ = 0;
    std::vector<std::string> openedApplications_;
    std::list<Timer> opening_;  // and listings
    std::int32_t nextPid_ = 501;
    std::size_t scans_ = 0;
};

}  // namespace orvel
