#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/Workspace.h"

namespace orvel {

// Simulated applications and sleep. Tests launch and quit applications and put the machine to
// sleep for a while (the virtual clock's wall time moves on meanwhile).
class SimWorkspace final : public Workspace {
  public:
    std::vector<RunningApplication> runningApplications() override { return apps_; }
    Result<void> openURL(std::string_view url) override;
    std::optional<ApplicationBundle> bundle(std::string_view url) override;

    // Control surface for tests.
    // Whether a launch or quit is announced: background applications come and go unannounced.
    enum class Notice { sent, silent };
    RunningApplication launch(std::optional<std::string> bundleIdentifier,
                              std::optional<std::string> localizedName,
                              ActivationPolicy policy = ActivationPolicy::regular,
                              Notice notice = Notice::sent);
    // Quits the application with this process identifier; false when none runs.
    bool quit(std::int32_t processIdentifier, Notice notice = Notice::sent);
    // Installs (or, with nothing, removes) the bundle at this URL.
    void setBundle(const std::string& url, std::optional<PropertyDictionary> info);
    // Sends will-sleep, lets `seconds` of wall time pass with the timers standing still, then
    // sends did-wake.
    void sleepFor(double seconds);
    // The URLs opened so far, in order.
    const std::vector<std::string>& openedURLs() const { return openedURLs_; }
    // The next openURL() fails with this message.
    void failNextOpen(std::string message) { nextOpenFailure_ = std::move(message); }

  private:
    std::vector<RunningApplication> apps_;
    std::map<std::string, PropertyDictionary, std::less<>> bundles_;
    std::vector<std::string> openedURLs_;
    std::optional<std::string> nextOpenFailure_;
    std::int32_t nextPid_ = 501;
};

}  // namespace orvel
