#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Signal.h"
#include "platform/EventTap.h"
#include "platform/HidDevices.h"
#include "platform/InputBlocking.h"

namespace orvel {

class Permissions;
class Workspace;

// Silences the built-in keyboard and trackpad while external devices keep working, and the device
// and permission services that blocking shares with the rest of the program: the attached
// devices behind the HID-access flag, the built-in classification, and the cached status of the
// two permissions blocking needs.
//
// The platform says how it blocks. Where it can switch single devices off, exactly the built-in
// devices asked for are switched off. Where it cannot, an event tap drops each event that arrives
// within 0.15 s of a value from a watched built-in device (keyboard events after a keyboard
// value, pointer events after any other), and holds the cursor at an anchor while built-in
// motion comes in. Main thread only, except noteInternalValue(), which the input thread calls.
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
    static constexpr double kCorrelationWindow = 0.15;

    // Raises the HID-access flag for its lifetime and puts the previous value back after.
    class HidAccessScope {
      public:
        explicit HidAccessScope(InputBlocker& blocker);
        ~HidAccessScope();
        HidAccessScope(const HidAccessScope&) = delete;
        HidAccessScope& operator=(const HidAccessScope&) = delete;

      private:
        InputBlocker& blocker_;
        bool previous_;
    };

    InputBlocker(HidDevices& hid, InputBlocking& blocking, Permissions& permissions,
                 Workspace& workspace, Cursor& cursor, EventTap& eventTap);
    ~InputBlocker();
    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;

    // Without the flag no device is listed and the platform is not asked.
    bool hidAccess() const { return hidAccess_; }
    std::vector<HidDevice> currentHIDDevices() const;
    // The built-in classification: a Bluetooth device is never built in; then the device's own
    // built-in property; then, for the two keyboard makers' vendor ids, the transport or the
    // product name.
    static bool isInternal(const HidDevice& device);
    static std::string productName(const HidDevice& device);
    static std::string deviceDescription(const HidDevice& device);
    // The product names of the attached input devices classified built in, sorted.
    std::vector<std::string> internalDeviceNames() const;
    // Whether an input device not classified built in is attached now (an enumeration).
    bool externalKeyboardAttached() const;
    bool externalPointerAttached() const;

    // Probes both permissions, stores the answer in the cache and returns it (input device
    // access in the low byte, input device control in the high one).
    std::uint16_t permissionStatus();
    // The cache as it stands; none while never checked. Reading it never probes.
    std::optional<PermissionStatus> cachedPermissions() const;
    // The permissions the cache says are missing, "Input device access" first; empty while
    // never checked.
    std::vector<std::string> missingPermissions() const;
    // Asks for input device access: the system's prompt while undecided, else (still not granted)
    // asks the user (`UserAsker`) whether to go where it is granted by hand. True when the
    // refreshed cache says granted.
    bool requestInputMonitoring();
    // Asks for input device control; the answer of the request itself.
    bool requestAccessibility();
    // Opens where the user grants the permission by hand, where the system has such a place.
    void openPrivacyPane(bool accessibility);

    // Why the last attempt to block built-in input failed, if it did.
    std::optional<std::string> lastFailure;

    // Starts (or restarts) blocking of the built-in keyboard and/or trackpad; both false stops.
    // Never waits: the input thread gets its devices before it starts.
    void apply(bool keyboard, bool trackpad);
    // Ends every kind of blocking and lowers the HID-access flag; harmless when nothing is
    // blocked.
    void stop();
    // While blocking, looks again whether external devices are attached.
    void refreshExternalDevices();

    bool isBlockingKeyboard() const { return isBlockingKeyboard_; }
    bool isBlockingTrackpad() const { return isBlockingTrackpad_; }
    // What the last successful apply() or refresh found; true until then.
    bool hasExternalKeyboard() const { return hasExternalKeyboard_; }
    bool hasExternalPointer() const { return hasExternalPointer_; }
    std::optional<CursorPoint> anchor() const { return anchor_; }

    // The tap's body: the event (perhaps rewritten) to pass it, null to drop it.
    TapEvent* filter(std::uint32_t type, TapEvent* event);
    // A watched built-in device reported a value (usage page 7: keyboard). Any thread.
    void noteInternalValue(std::uint32_t usagePage);

    std::uint64_t stopCount() const { return stops_; }
    // Sent by stop(), for observers that follow the input blocker.
    Signal<> stopped;

  private:
    bool installTap(bool keyboard, bool trackpad);
    void fail(std::string reason);
    void takeExternalCensus();
    void recountObserved();
    std::vector<HidDevice> chooseDevices(bool keyboard, bool trackpad, bool perDevice);
    void silenceNewcomers();

    HidDevices& hid_;
    InputBlocking& blocking_;
    Permissions& permissionApi_;
    Workspace& workspace_;
    Cursor& cursor_;
    EventTap& eventTap_;
    std::uint64_t stops_ = 0;
    bool hidAccess_ = false;
    std::uint16_t permissions_ = kNeverChecked;

    std::unique_ptr<EventTapHandle> tap_;
    std::unique_ptr<InputHold> observation_;
    // Watched devices still attached: without one, only the external census decides.
    std::vector<std::uint64_t> observedIds_;
    std::size_t observedCount_ = 0;
    Subscription devicesChanged_;
    std::vector<std::unique_ptr<InputHold>> silenced_;
    std::vector<std::uint64_t> silencedIds_;
    // Monotonic nanoseconds of the last built-in values; written on the input thread.
    std::atomic<std::int64_t> lastInternalKeyboard_{kNever};
    std::atomic<std::int64_t> lastInternalPointer_{kNever};
    static constexpr std::int64_t kNever = INT64_MIN;
    std::optional<CursorPoint> anchor_;
    bool isBlockingKeyboard_ = false;
    bool isBlockingTrackpad_ = false;
    bool hasExternalKeyboard_ = true;
    bool hasExternalPointer_ = true;
};

}  // namespace orvel
