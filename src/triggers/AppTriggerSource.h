#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/ServiceNeighbours.h"
#include "foundation/RunLoop.h"
#include "foundation/Signal.h"
#include "foundation/UUID.h"
#include "platform/Workspace.h"
#include "triggers/TriggerRule.h"

namespace orvel {

class OrvelController;
class TriggerEngine;

// Turns launches and quits of other applications into rule events for app rules, and carries
// the one-off watch of an until-app-quits session.
//
// Launches and quits come from the workspace's signals. Background applications come and go
// unannounced, so while an enabled rule with watchBackground (or a background one-off) needs it,
// a 3-second poll compares the running applications with the last known state. A quit is passed
// on only once no instance of that application runs any more.
class AppTriggerSource final : public OneOffWatch {
  public:
    // The engine and the controller are reached on events only: both build this source.
    AppTriggerSource(Workspace& workspace, std::function<TriggerEngine&()> engine,
                     std::function<OrvelController&()> controller);

    static constexpr double kPollInterval = 3.0;

    // The app rules the engine installed, and whether any are installed.
    std::vector<TriggerRule> rules;
    bool active = false;
    // Last known running state per bundle identifier.
    std::map<std::string, bool> runningState;

    // Installs the engine's app rules (those of other families are left out) and records the
    // running states as the baseline, reporting nothing.
    void setRules(const std::vector<TriggerRule>& appRules);
    // Withdraws the rule watch; the one-off watch stays.
    void clearRules();

    // The one-off watch of an until-app-quits session.
    std::optional<std::string> oneOffBundleID;
    bool oneOffIsBackground = false;

    std::optional<std::string> watchedOneOff() const override { return oneOffBundleID; }
    // Starts the one-off watch for the application with this bundle identifier.
    void watchOneOff(const std::string& bundleID) override;
    // Ends the one-off watch, if there is one, and stops observing when nothing else needs it.
    void clearOneOff() override;
    // Runs the poll while a rule or the one-off watch needs it.
    void updatePolling();
    // Without rules and without a one-off watch, stops observing and polling.
    void stopIfIdle();

    // Whether the application runs in the background (no window or task bar entry): asked of a
    // running instance first, else of the bundle at `url`.
    static bool isBackgroundApp(Workspace& workspace, const std::string& bundleID,
                                const std::optional<std::string>& url = std::nullopt);
    // A yes/no key of a bundle's information list: a Boolean, a number 0 or 1, or the text "1"
    // or "true" in any case; anything else is false.
    static bool infoPlistFlag(std::string_view key, const ApplicationBundle& bundle);
    // The running ordinary applications (name, bundle identifier), sorted by name as the user's
    // language sorts, ignoring case.
    static std::vector<std::pair<std::string, std::string>> runningApps(Workspace& workspace);

    bool isObserving() const { return launchObserver_.isActive(); }
    bool isPolling() const { return pollTimer_.isValid(); }

  private:
    // The identifiers of the rules and the one-off watch: the launches the workspace must tell.
    std::set<std::string> followedIDs() const;
    void startObserving();
    void handleWorkspaceNotification(const RunningApplication& app, bool launched);
    void poll();

    Workspace& workspace_;
    std::function<TriggerEngine&()> engine_;
    std::function<OrvelController&()> controller_;
    Subscription launchObserver_;
    Subscription quitObserver_;
    Timer pollTimer_;
    // What the poll last saw per background rule, so that two rules of one application each
    // get the change.
    std::map<UUID, bool> pollState_;
};

}  // namespace orvel
