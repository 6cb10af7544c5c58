#pragma once

#include <cstdint>
#include <optional>

#include "foundation/Signal.h"

// The brightness of a display's backlight, on the scale 0.0 (dark) to 1.0 (full). Threading:
// main thread only; the signal is sent on the main thread.

namespace orvel {

class Backlight {
  public:
    virtual ~Backlight() = default;

    // The display's level; nothing when it has no backlight this program can read.
    virtual std::optional<double> level(std::uint32_t display) = 0;
    // Asks for a level without waiting for it to be applied; false when the display has no
    // backlight this program can set. While a request is in flight, level() answers the level
    // asked for.
    virtual bool setLevel(std::uint32_t display, double level) = 0;

    // A request that setLevel() accepted was refused later; level() reads the true level again.
    Signal<std::uint32_t> writeRefused;
};

}  // namespace orvel
