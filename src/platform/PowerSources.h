#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/PropertyList.h"
#include "foundation/Signal.h"

// The machine's power sources and Power Saver. Threading: main thread only; the signal is
// sent on the main thread.

namespace orvel {

// Keys and values of a power-source description.
namespace power_source {
inline constexpr const char* kType = "Type";                            // text
inline constexpr const char* kPowerSourceState = "Power Source State";  // text
inline constexpr const char* kCurrentCapacity = "Current Capacity";     // integer
inline constexpr const char* kMaxCapacity = "Max Capacity";             // integer
inline constexpr const char* kName = "Name";                            // text
inline constexpr const char* kIsCharging = "Is Charging";               // Boolean

inline constexpr const char* kInternalBattery = "InternalBattery";
inline constexpr const char* kUPS = "UPS";
inline constexpr const char* kACPower = "AC Power";
inline constexpr const char* kBatteryPower = "Battery Power";
inline constexpr const char* kUPSPower = "UPS Power";
}  // namespace power_source

// One reading of all power sources.
struct PowerSourcesSnapshot {
    // One description per source, in the system's order.
    std::vector<PropertyDictionary> sources;
    // "AC Power", "Battery Power" or "UPS Power": what powers the machine now; nothing when
    // unknown.
    std::optional<std::string> providingPowerSourceType;
};

class PowerSources {
  public:
    virtual ~PowerSources() = default;

    // A reading taken after the last change announced (those who look at one change may share
    // it); nothing when the power sources cannot be read at all.
    virtual std::optional<PowerSourcesSnapshot> snapshot() = 0;
    virtual bool isLowPowerModeEnabled() = 0;
    // Whether powerStateDidChange is sent for every change of the sources; when false, callers
    // must look again now and then to notice one.
    virtual bool announcesChanges() const { return false; }

    // Power Saver was switched on or off, or (where announcesChanges()) a source changed.
    Signal<> powerStateDidChange;
};

}  // namespace orvel
