#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/Signal.h"

// The displays that are online. Threading: main thread only; the signal is sent on the main
// thread.

namespace orvel {

struct DisplayDescription {
    std::uint32_t id = 0;
    std::string name;
    // The machine's own panel (a laptop's, or an all-in-one's), not a monitor plugged into it.
    bool isBuiltIn = false;
    bool isMain = false;
};

// The compositor's own way of putting every display to sleep at once, where it offers one.
enum class CompositorSleep { none, gnome, kde, sway, wlroots };

class Displays {
  public:
    virtual ~Displays() = default;

    // The displays online now, in the system's order; read when asked.
    virtual std::vector<DisplayDescription> onlineDisplays() = 0;
    // The screens changed: a backend that keeps what it read for a while reads it again on the
    // next question.
    virtual void refresh() {}

    // How sleepAll() would reach the compositor; none where it offers no way known here (an X
    // server's displays are slept by the caller, not through this).
    virtual CompositorSleep compositorSleep() { return CompositorSleep::none; }
    // Asks the compositor to put every display to sleep; nothing waits for it, and a refusal
    // leaves one log line.
    virtual void sleepAll() {}

    // A display came, went or was switched on or off.
    Signal<> displaysChanged;
};

}  // namespace orvel
