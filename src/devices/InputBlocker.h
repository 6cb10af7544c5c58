#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Signal.h"

namespace orvel {

// Drops input events of the built-in keyboard and trackpad while blocking is on.
//
// This is its first, least form: nothing is blocked yet, so stop() has nothing to undo, and no
// permission is ever probed, so the cache stays unchecked unless a test fills it. Callers
// already use the interface the full form keeps.
class InputBlocker {
  public:
    // What the last permission probe found.
    struct PermissionStatus {
        bool inputMonitoring = false;
        bool accessibility = false;
    };

    static InputBlocker& shared();

    // The cached outcome of the last permission probe; none while not yet checked. Reading it
    // never starts a probe.
    static std::optional<PermissionStatus> permissionStatus() { return shared().permissions_; }
    // The permissions the cache says are missing, "Input Monitoring" first; empty while not
    // yet checked.
    static std::vector<std::string> missingPermissions();

    // Why the last attempt to block built-in input failed, if it did.
    std::optional<std::string> lastFailure;

    // For tests: what the last probe found.
    void setPermissionStatus(std::optional<PermissionStatus> status) { permissions_ = status; }

    // Ends every kind of blocking; harmless when nothing is blocked.
    void stop() {
        ++stops_;
        stopped.send();
    }
    std::uint64_t stopCount() const { return stops_; }

    // Sent by stop(), for observers that follow the input blocker.
    Signal<> stopped;

  private:
    InputBlocker() = default;
    std::uint64_t stops_ = 0;
    std::optional<PermissionStatus> permissions_;
};

// Holds the keyboard backlight at zero while a session asks for it.
//
// This is its first, least form: the backlight is never changed yet, so there is nothing to
// put back.
class KeyboardBacklight {
  public:
    static KeyboardBacklight& shared();

    // Switches the hold on or off; off puts back the level saved when it was switched on.
    void setOff(bool off) { isOff_ = off; }
    bool isOff() const { return isOff_; }

  private:
    KeyboardBacklight() = default;
    bool isOff_ = false;
};

}  // namespace orvel
