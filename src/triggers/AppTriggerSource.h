#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/Signal.h"
#include "triggers/TriggerRule.h"

namespace orvel {

// Watches applications for app rules and for the one-off watch of an until-app-quits session.
//
// This is its first, least form: it keeps the one-off watch, ending the session through
// OrvelController::endIfUntilAppQuits when the watched application quits, and keeps the app
// rules the engine hands it without reporting their launches and quits yet. Callers already use
// the interface the full form keeps.
class AppTriggerSource {
  public:
    static AppTriggerSource& shared();

    // The app rules the engine installed, and whether any are installed.
    std::vector<TriggerRule> rules;
    bool active = false;

    // Installs the engine's app rules (those of other families are left out).
    void setRules(const std::vector<TriggerRule>& appRules);
    // Withdraws the rule watch; the one-off watch stays.
    void clearRules();

    // The one-off watch of an until-app-quits session.
    std::optional<std::string> oneOffBundleID;
    bool oneOffIsBackground = false;

    // Starts the one-off watch for the application with this bundle identifier.
    void watchOneOff(const std::string& bundleID);
    // Ends the one-off watch, if there is one, and stops observing when nothing else needs it.
    void clearOneOff();
    // Runs the poll while a rule or the one-off watch needs it.
    void updatePolling();
    // Without rules and without a one-off watch, stops observing.
    void stopIfIdle();
    // Whether the application runs in the background (no window or Dock icon).
    static bool isBackgroundApp(const std::string& bundleID);

    bool isObserving() const { return termination_.isActive(); }

  private:
    AppTriggerSource() = default;

    Subscription termination_;
};

}  // namespace orvel
