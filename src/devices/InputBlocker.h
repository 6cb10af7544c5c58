#pragma once

#include <cstdint>

#include "foundation/Signal.h"

namespace orvel {

// Drops input events of the built-in keyboard and trackpad while blocking is on.
//
// This is its first, least form: nothing is blocked yet, so stop() has nothing to undo. Callers
// already use the interface the full form keeps.
class InputBlocker {
  public:
    static InputBlocker& shared();

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
