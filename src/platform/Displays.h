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

class Displays {
  public:
    virtual ~Displays() = default;

    // The displays online now, in the system's order; read when asked.
    virtual std::vector<DisplayDescription> onlineDisplays() = 0;
    // The screens changed: a backend that keeps what it read for a while reads it again on the
    // next question.
    virtual void refresh() {}

    // A display came, went or was switched on or off.
    Signal<> displaysChanged;
};

}  // namespace orvel
