#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/Published.h"
#include "foundation/Signal.h"
#include "foundation/WeakRef.h"
#include "platform/HidDevices.h"

namespace orvel {

// The application's device state: applies the built-in device settings (input blocking, screen
// saver, display and keyboard backlight holds) for the current session.
//
// This is its first, least form: the built-in devices cannot be silenced yet, so reconcile()
// only announces itself (tests watch `reconciled` to see when the device state is asked to
// apply itself), and sleeping the displays is only recorded. Callers already use the interface
// the full form keeps.
class DeviceState final : public ObservableObject, public WeakReferenceable {
  public:
    static DeviceState& shared();

    // Whether an external keyboard or pointing device is connected.
    Published<bool> hasExternalInput{*this, true};
    // Whether the watchdog released input blocking by itself.
    Published<bool> autoReleased{*this, false};

    // Applies the current device settings at once. Main thread.
    void reconcile();

    // Whether this machine is a laptop: an internal battery is listed.
    bool isLaptop() const;
    // The keyboards, mice, pointers and touch pads among the devices.
    static std::vector<HidDevice> filterInputDevices(const std::vector<HidDevice>& devices);
    // One line per device: built in or external, then its name and details.
    static std::vector<std::string> inputDeviceLines(const std::vector<HidDevice>& devices);
    // Asks the system to put every display to sleep now, without waiting.
    void sleepDisplaysNow();
    std::uint64_t sleepDisplaysCount() const { return sleepDisplaysCount_; }

    // Sent at every reconcile(), for observers that follow the device state.
    Signal<> reconciled;
    std::uint64_t reconcileCount() const { return reconcileCount_; }

  private:
    DeviceState() = default;
    std::uint64_t reconcileCount_ = 0;
    std::uint64_t sleepDisplaysCount_ = 0;
};

}  // namespace orvel
