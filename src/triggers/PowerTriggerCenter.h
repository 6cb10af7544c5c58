#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/PowerReadings.h"
#include "core/ServiceNeighbours.h"
#include "foundation/Localization.h"
#include "foundation/PropertyList.h"
#include "foundation/Published.h"
#include "foundation/RunLoop.h"
#include "foundation/Signal.h"
#include "foundation/WeakRef.h"

namespace orvel {

class Notifications;
class OrvelController;
class PowerSources;
class Preferences;
class SessionControl;
class SystemInfo;

// The battery, Power Saver and UPS safety centre: ends the running session when the internal
// battery reaches its floor, Power Saver turns on or the UPS changes, keeps a session it ended
// for later and resumes it once every hold has cleared, starts a session when a UPS takes over
// (Symmetric mode), and blocks starts while Power Saver is on. Main thread only.
class PowerTriggerCenter final : public ObservableObject,
                                 public WeakReferenceable,
                                 public SessionParticipant,
                                 public PowerSafety {
  public:
    // A reason that still holds back the resumption of a session ended for safety.
    struct Hold {
        std::string id;
        std::string label;  // English, for the report
        std::string shown;  // the label in the reader's language, when it differs
        bool operator==(const Hold&) const = default;
    };
    // The one-line notice shown to the user.
    struct Notice {
        std::string text;
        int subTab = 3;
        bool operator==(const Notice&) const = default;
    };
    // A session ended for safety that may be resumed: the seconds it had left (none: no end).
    struct Pending {
        std::optional<std::int64_t> remaining;
        bool operator==(const Pending&) const = default;
    };

    // Troubleshooting's made-up power readings, which drive the real machinery.
    enum class SimulationKind {
        lowBattery,
        batteryRecovery,
        lowPowerModeOn,
        lowPowerModeOff,
        upsTakeover,
        wallPowerReturns,
    };

    static constexpr const char* kLowPowerModeReason =
        textKey("Power Saver is on \u2014 Orvel is blocked while it's on.");

    // The controller is reached once the centre acts, not as it is built: the controller tells
    // the centre of its sessions, and may build it.
    PowerTriggerCenter(PowerSources& sources, Notifications& notifications,
                       const Preferences& prefs, std::function<OrvelController&()> controller,
                       std::function<SessionControl&()> session);

    Published<bool> lpmOn;
    Published<bool> upsPresent{*this, false};
    Published<std::optional<std::int64_t>> macBatteryPercent{*this, std::nullopt};
    Published<std::vector<Hold>> holds{*this, {}};
    std::optional<Pending> pending;
    bool macTripped = false;
    bool onUPS = false;
    // The running session was started by the UPS taking over; cleared whenever a session ends.
    bool upsStartedSession = false;
    Published<std::optional<Notice>> notice{*this, std::nullopt};
    Published<bool> simulationActive{*this, false};
    std::optional<std::int64_t> simBattery;
    // The simulation owns the UPS flags.
    bool simUPS = false;
    // Whether the machine was on wall power at the last evaluation (real readings only).
    std::optional<bool> lastRealOnAC;

    // Follows Power Saver, the power sources, the power settings and the controller, and
    // evaluates once now: on every announced change, or every 10 s where the platform announces
    // none. Called once by start-up.
    void start();
    // Reads the power state and applies the floors, the recovery and the UPS transitions.
    void evaluate();
    // Stores the battery percent and the UPS flags; a change of UPS power is a transition.
    void readPowerState();

    // The readings of the power sources the centre was handed.
    std::vector<PropertyDictionary> internalBatteryDescriptions() const {
        return orvel::internalBatteryDescriptions(sources_);
    }
    bool isOnACPower() const { return orvel::isOnACPower(sources_); }

    std::optional<std::string> blockReason() const override;
    bool runsOnUPS() const override { return onUPS; }
    void keepForResume(std::optional<std::int64_t> remaining) override;
    // Stores the block reason in the session controller when it changed.
    void syncBlockReason();
    // Ends the running session for `reason`; when `resumable`, keeps it for a later resume.
    // True when a session was ended.
    // `reason` is logged; `shown`, the reason in the user's language, is what the notification
    // says.
    bool endForBattery(bool resumable, const std::string& shown);
    // Adds a hold unless one with this id exists (the first label stays); the notice follows.
    void addHold(const std::string& id, const std::string& label, const std::string& shown = {});
    // Releases the hold with this id, logs `text`, tries to resume and refreshes the notice; an
    // unknown id does nothing.
    void releaseHold(const std::string& id, const std::string& text);
    // Starts the pending session again when nothing holds it back.
    void resume();
    // The UPS started (true) or stopped powering the machine.
    void upsTransition(bool nowOnUPS);
    void setLowPowerMode(bool on);
    // Recomputes the notice; writes it only when it differs.
    void refreshNotice() override;
    // A started session leaves nothing to resume; one ended by hand neither.
    void sessionStarted() override;
    void sessionStopped(const SessionEnd& end) override;
    void simulate(SimulationKind kind);
    // Ends a simulation and reads the real power state again; nothing without one.
    void clearSimulation();
    // The power lines of the diagnostic report.
    std::vector<std::string> reportLines() const;

    // Sent by refreshNotice, for observers that follow the power centre.
    Signal<> noticeRefreshed;
    bool isStarted() const { return started_; }
    // Sent by start(), for observers that follow start-up.
    Signal<> started;

  private:
    std::optional<std::int64_t> currentPercent() const;
    bool hasHold(const std::string& id) const;
    void evaluateSoon();

    PowerSources& sources_;
    Notifications& notifications_;
    const Preferences& prefs_;
    std::function<OrvelController&()> controller_;
    std::function<SessionControl&()> session_;
    bool started_ = false;
    Timer ticker_;
    Subscription powerStateSubscription_;
    Subscription sessionSubscription_;
    SubscriptionBag settingSubscriptions_;
    bool lastLowPower_ = false;
    bool evaluationQueued_ = false;
};

// The operating system's version as "major.minor.patch" ("12.0.0").
std::string osVersionString(SystemInfo& system);

}  // namespace orvel
