#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Signal.h"

namespace orvel {

// Whether an XEmbed system tray runs on the X screen: the owner of the `_NET_SYSTEM_TRAY_S<n>`
// selection, watched over a connection of our own. A tray that comes announces itself with a
// MANAGER message on the root window; one that goes destroys its window (a crashed one too, with
// its connection). Both arrive as events on the main loop: nothing is polled.
class X11TraySelection {
  public:
    // None where no X display answers; `display` none: $DISPLAY.
    static std::unique_ptr<X11TraySelection> open(
        std::optional<std::string> display = std::nullopt);
    ~X11TraySelection();

    bool hasTray() const;
    // The tray came or went.
    Signal<bool> changed;

    struct State;

  private:
    X11TraySelection() = default;
    std::shared_ptr<State> state_;
};

}  // namespace orvel
