#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace orvel {

// Key downs anywhere on an X11 display, seen through XInput 2 raw events on the root window:
// nothing is grabbed, so the focused window still gets every key. Keys typed while one of this
// process's windows has the focus are left out (the toolkit hands those over itself). Reports
// the C key as 8 (every other key as 0xFFFF) with the modifiers held, as monitor flags. Events
// are read on the main loop. Main thread only.
class X11KeyMonitor {
  public:
    using OnPress = std::function<void(std::uint16_t keyCode, std::uint64_t modifierFlags)>;

    // None when the display cannot be opened or has no XInput 2.1; `display` none: $DISPLAY.
    static std::unique_ptr<X11KeyMonitor> open(const std::optional<std::string>& display,
                                               OnPress onPress);
    ~X11KeyMonitor();
    X11KeyMonitor(const X11KeyMonitor&) = delete;
    X11KeyMonitor& operator=(const X11KeyMonitor&) = delete;

    struct Impl;

  private:
    explicit X11KeyMonitor(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvel
