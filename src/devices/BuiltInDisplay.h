#pragma once

#include <cstdint>
#include <optional>

#include "foundation/RunLoop.h"

namespace orvel {

class Backlight;
class Displays;

// Holds the machine's built-in panel dark for the length of a session and puts its level back
// afterwards. Only the built-in panel is ever read or written, never a monitor plugged in: with
// no built-in panel online nothing is written. Main thread only.
class BuiltInDisplay {
  public:
    BuiltInDisplay(Displays& displays, Backlight& backlight);

    // The built-in display's identifier while one is online.
    std::optional<std::uint32_t> builtInDisplayID() const;

    // The built-in panel's level; nothing when no panel is online or its level cannot be read.
    std::optional<double> level();
    // The level, or 0.5 when there is none.
    double brightness();
    // Best effort; nothing happens without a built-in panel online.
    void setBrightness(double level);

    // true holds the panel dark, saving its level first; false puts the saved level back. A call
    // without a built-in panel online changes nothing.
    void setDark(bool dark);
    // (Re)starts the half-second tick that takes the panel back to dark while it is held.
    void startReassert();

    // The level found before darkening; present exactly while the panel is held dark.
    const std::optional<double>& savedLevel() const { return savedLevel_; }
    bool isReasserting() const { return reassertTimer_.isValid(); }

  private:
    std::optional<std::uint32_t> panelID() const;
    void reassert();

    Displays& displays_;
    Backlight& backlight_;

    std::optional<double> savedLevel_;
    Timer reassertTimer_;
};

}  // namespace orvel
