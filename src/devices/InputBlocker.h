#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Signal.h"
#include "platform/HidDevices.h"

namespace orvel {

// Drops input events of the built-in keyboard and trackpad while blocking is on, and the device
// and permission services that blocking shares with the rest of the program: the attached
// devices behind the HID-access flag, the built-in classification, and the cached status of the
// two permissions blocking needs.
//
// Blocking itself is still in its least form: nothing is silenced yet, so stop() only lowers the
// HID-access flag. Main thread only.
class InputBlocker {
  public:
    // The permission cache decoded.
    struct PermissionStatus {
        bool inputMonitoring = false;
        bool accessibility = false;
    };
    static constexpr std::uint16_t kNeverChecked = 0x0002;
    static constexpr std::uint16_t kInputMonitoringBit = 0x0001;
    static constexpr std::uint16_t kAccessibilityBit = 0x0100;

    // Raises the HID-access flag for its lifetime and puts the previous value back after.
    class HidAccessScope {
      public:
        HidAccessScope();
        ~HidAccessScope();
        HidAccessScope(const HidAccessScope&) = delete;
        HidAccessScope& operator=(const HidAccessScope&) = delete;

      private:
        bool previous_;
    };

    static InputBlocker& shared();

    // Without the flag no device is listed and the platform is not asked.
    static bool hidAccess() { return shared().hidAccess_; }
    static std::vector<HidDevice> currentHIDDevices();
    // The built-in classification: a Bluetooth device is never built in; then the device's own
    // built-in property; then, for the two keyboard makers' vendor ids, the transport or the
    // product name.
    static bool isInternal(const HidDevice& device);
    static std::string productName(const HidDevice& device);
    static std::string deviceDescription(const HidDevice& device);
    // The product names of the attached input devices classified built in, sorted.
    static std::vector<std::string> internalDeviceNames();
    static bool hasExternalKeyboard();
    static bool hasExternalPointer();

    // Probes both permissions, stores the answer in the cache and returns it (Input Monitoring
    // in the low byte, Accessibility in the high one).
    static std::uint16_t permissionStatus();
    // The cache as it stands; none while never checked. Reading it never probes.
    static std::optional<PermissionStatus> cachedPermissions();
    // The permissions the cache says are missing, "Input Monitoring" first; empty while never
    // checked.
    static std::vector<std::string> missingPermissions();
    // Asks for Input Monitoring: the system's prompt while undecided, else (still not granted)
    // an alert that leads to where it is granted by hand. True when the refreshed cache says
    // granted.
    static bool requestInputMonitoring();
    // Asks for Accessibility; the answer of the request itself.
    static bool requestAccessibility();
    // Opens where the user grants the permission by hand, where the system has such a place.
    static void openPrivacyPane(bool accessibility);

    // Why the last attempt to block built-in input failed, if it did.
    std::optional<std::string> lastFailure;

    // Ends every kind of blocking; harmless when nothing is blocked.
    void stop();
    std::uint64_t stopCount() const { return stops_; }

    // Sent by stop(), for observers that follow the input blocker.
    Signal<> stopped;

  private:
    InputBlocker() = default;
    std::uint64_t stops_ = 0;
    bool hidAccess_ = false;
    std::uint16_t permissions_ = kNeverChecked;
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
