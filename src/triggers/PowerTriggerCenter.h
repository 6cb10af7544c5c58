#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/PropertyList.h"
#include "foundation/Published.h"
#include "foundation/Signal.h"
#include "foundation/WeakRef.h"

namespace orvel {

// The battery, Low Power Mode and UPS safety centre.
//
// This is its first, least form: the power readings, the block reason, the holds and the pending
// resume with its notice are here; the evaluation that ends and resumes sessions comes with the
// trigger subsystem. Callers already use the interface the full form keeps.
class PowerTriggerCenter final : public ObservableObject, public WeakReferenceable {
  public:
    // A reason that still holds back the resumption of a session ended for safety.
    struct Hold {
        std::string id;
        std::string label;
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

    static constexpr const char* kLowPowerModeReason =
        "Low Power Mode is on \u2014 Orvel is blocked while it's on.";

    static PowerTriggerCenter& shared();

    Published<bool> lpmOn;
    Published<bool> upsPresent{*this, false};
    Published<std::optional<std::int64_t>> macBatteryPercent{*this, std::nullopt};
    Published<std::vector<Hold>> holds{*this, {}};
    std::optional<Pending> pending;
    bool macTripped = false;
    bool onUPS = false;
    Published<std::optional<Notice>> notice{*this, std::nullopt};

    // Starts watching the power state. Called once by start-up.
    void start();

    // The internal batteries' descriptions, in the system's order.
    static std::vector<PropertyDictionary> internalBatteryDescriptions();
    // Whether the machine runs on wall power: the first internal battery that reports a state
    // decides; a machine without one counts as on wall power.
    static bool isOnACPower();

    // Why sessions may not start now, if they may not.
    std::optional<std::string> blockReason() const;
    // Stores the block reason in the session controller when it changed.
    void syncBlockReason();
    // Adds a hold, or replaces the hold with the same id.
    void addHold(const std::string& id, const std::string& label);
    // Recomputes the notice; writes it only when it differs.
    void refreshNotice();

    // Sent by refreshNotice, for observers that follow the power centre.
    Signal<> noticeRefreshed;
    bool isStarted() const { return started_; }
    // Sent by start(), for observers that follow start-up.
    Signal<> started;

  private:
    PowerTriggerCenter();

    bool started_ = false;
};

// The operating system's version as "major.minor.patch" ("12.0.0").
std::string osVersionString();

}  // namespace orvel
