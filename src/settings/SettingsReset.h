#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Log.h"
#include "foundation/Published.h"
#include "foundation/RunLoop.h"
#include "foundation/Signal.h"
#include "foundation/WeakRef.h"
#include "settings/SettingsTransfer.h"
#include "ui/View.h"

namespace orvel {

class ActivityLog;
class ChildProcess;
class DriveKeepAlive;
class OrvelController;
class Permissions;
class PowerTriggerCenter;
class Preferences;
class Processes;
class TriggerEngine;
class UserDefaults;

// What a reset returns to its first state, and the capabilities it uses to do so.
struct SettingsResetNeighbours {
    TriggerEngine& engine;
    OrvelController& controller;
    PowerTriggerCenter& powerCenter;
    DriveKeepAlive& drives;
    Preferences& prefs;
    ActivityLog& activityLog;
    UserDefaults& defaults;
    Permissions& permissions;
    Processes& processes;
};

// Returns the whole application to its first-run state while it keeps running. The main loop
// never waits: when Orvel's permission grants are to be cleared, the clearing command runs as
// a child whose end is posted back; the result entry of the activity log follows it. One reset
// at a time. Main thread only.
class SettingsReset final : public ObservableObject, public WeakReferenceable {
  public:
    static constexpr double kClearingTimeout = 120.0;
    static constexpr std::int64_t kTroubleshootingTab = 6;
    static constexpr const char* kTabSelectionKey = "settingsTabSelection";

    explicit SettingsReset(SettingsResetNeighbours neighbours) : n_(neighbours) {}
    ~SettingsReset() override;

    // True from a reset's start until its result entry is recorded.
    Published<bool> running{*this, false};

    // Runs the reset; `clearViewState` empties the settings window's own state (scanned devices,
    // diagnostic text). False, changing nothing, while another reset runs.
    bool perform(bool clearPermissions, const std::function<void()>& clearViewState = {});

    // Sent with the summary line once the result entry is recorded.
    Signal<std::string> finished;

  private:
    // The permission outcome as words, built again in English for the log.
    using Words = std::function<std::string()>;
    void clearingEnded(const Words& permissionText);
    void finish(const Words& permissionText);

    const SettingsResetNeighbours n_;
    std::size_t ruleCount_ = 0;
    std::shared_ptr<ChildProcess> child_;
    Timer timeout_;
    Logger log_{"settings"};
};

// Texts of the permission part of the summary.
std::string permissionClearingFailedText(const std::string& reason);

class SettingsReset;

// What the RESET block acts through, each reached only once the user gets that far: a cancelled
// alert or export panel builds no service.
struct ResetOwners {
    SettingsTransfer::Owners transfer;
    std::function<SettingsReset&()> reset;
};

// "Reset All Settings…": asks twice (offering an export first) and resets when both are
// confirmed, clearing the grants when the second alert's checkbox is on.
void resetAllSettings(const ResetOwners& owners, const std::function<void()>& clearViewState = {});

// The RESET block of the Troubleshooting page.
ui::View ResetSection(ResetOwners owners, std::function<void()> clearViewState = {});

}  // namespace orvel
