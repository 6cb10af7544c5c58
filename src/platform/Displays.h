#pragma once

#include <cstdint>
#include <functional>
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

// What came of a request to put every display to sleep, once the compositor has answered.
struct DisplaySleepOutcome {
    // The displays still on after it, by the compositor's names for them.
    std::vector<std::string> stillOn;
    // The request went unanswered, could not be made or was refused as a whole.
    bool failed = false;
    bool slept() const { return stillOn.empty() && !failed; }
    bool operator==(const DisplaySleepOutcome&) const = default;
};
using DisplaySleepDone = std::function<void(const DisplaySleepOutcome&)>;

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
    // Asks the compositor to put every display to sleep; nothing waits for it. `done` hears on
    // the main loop what came of it, read back from the compositor where it can tell; the
    // outcome also leaves one log line.
    virtual void sleepAll(DisplaySleepDone done) { (void)done; }

    // A display came, went or was switched on or off.
    Signal<> displaysChanged;
};

}  // namespace orvel
