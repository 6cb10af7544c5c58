#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Signal.h"

// Power-management assertions: holds that keep the display or the system awake.
// Threading: main thread only; the signal is sent on the main thread.

namespace orvel {

// Result codes keep the platform's signed 32-bit form; 0 is success.
using IOReturn = std::int32_t;
using AssertionID = std::uint32_t;

inline constexpr IOReturn kIOReturnSuccess = 0;
inline constexpr IOReturn kIOReturnError = static_cast<IOReturn>(0xE00002BC);
inline constexpr IOReturn kIOReturnBadArgument = static_cast<IOReturn>(0xE00002C2);
inline constexpr IOReturn kIOReturnNotPermitted = static_cast<IOReturn>(0xE00002E2);
inline constexpr IOReturn kIOReturnUnsupported = static_cast<IOReturn>(0xE00002C7);
inline constexpr IOReturn kIOReturnNotReady = static_cast<IOReturn>(0xE00002D8);
inline constexpr IOReturn kIOReturnNotFound = static_cast<IOReturn>(0xE00002F0);

// Assertion types, by their platform names.
namespace assertion_type {
inline constexpr std::string_view kPreventUserIdleDisplaySleep = "PreventUserIdleDisplaySleep";
inline constexpr std::string_view kPreventUserIdleSystemSleep = "PreventUserIdleSystemSleep";
inline constexpr std::string_view kPreventSystemSleep = "PreventSystemSleep";
inline constexpr std::string_view kPreventDiskIdle = "PreventDiskIdle";
}  // namespace assertion_type

// Level of an assertion that is on.
inline constexpr std::uint32_t kAssertionLevelOn = 255;
// The local user, for declaring user activity.
inline constexpr int kUserActiveLocal = 0;

struct AssertionCreation {
    IOReturn status = kIOReturnSuccess;
    AssertionID id = 0;  // valid only when status is kIOReturnSuccess
};

class PowerAssertions {
  public:
    virtual ~PowerAssertions() = default;

    // Takes an assertion of `type` at `level` under `name`; held until release().
    virtual AssertionCreation createWithName(std::string_view type, std::uint32_t level,
                                             std::string_view name) = 0;
    virtual IOReturn release(AssertionID id) = 0;

    // Declares the user active now (as if they had touched the input devices). `id` is an
    // in-out identifier: 0 asks for a new one.
    virtual IOReturn declareUserActivity(std::string_view name, int userType, AssertionID& id) = 0;

    // The number of holders per assertion type, system-wide (this process's own included);
    // nothing when it cannot be read. Answered at once: a backend that learns of other
    // programs' holders asynchronously answers from the latest listing it has, which it keeps
    // fresh by itself; its class comment says what it can see.
    virtual std::optional<std::map<std::string, std::int64_t>> status() = 0;

    // This process's own assertions per type: created, not released, not taken back.
    virtual std::map<std::string, std::int64_t> ownStatus() const = 0;

    // The services that keep `type` awake and have stopped since they last ran, named in words
    // ("logind", "the screen saver"); empty while each runs (or never ran). What a stopped
    // service held for this process is gone: the assertions stay created, ownStatus() leaves out
    // those that hold nothing, and the backend asks for every lock again when it returns.
    virtual std::vector<std::string> stoppedServices(std::string_view type) const = 0;

    // What of `type` this desktop cannot hold, in words, where the service that holds it is not
    // offered here: that it is held through a lesser means only, or not at all. Nothing while
    // it can be held fully, and before the services have answered.
    virtual std::optional<std::string> shortfall(std::string_view type) const = 0;

    // The spinning disks that a held PreventDiskIdle cannot keep from spinning down, by the
    // kernel's names: nothing on them could be read (no access to the device, and no file there
    // that is safe to read). Empty while none is held, and before the first reads.
    virtual std::vector<std::string> unkeptDisks() const = 0;

    // The system took back, or never granted, an assertion that createWithName() reported as
    // created (a backend whose requests complete later learns of a refusal only then). The
    // assertion holds nothing from then on; its owner still releases it.
    Signal<AssertionID, IOReturn> assertionRefused;
    // A service that keeps something awake stopped or returned, so stoppedServices() changed.
    // At a return, the locks of every live assertion have been asked for again.
    Signal<> servicesChanged;
    // A service appeared or went, or a disk could or could no longer be kept, so shortfall() or
    // unkeptDisks() may have changed.
    Signal<> shortfallChanged;
};

}  // namespace orvel
