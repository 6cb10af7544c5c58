#pragma once

#include <memory>
#include <string>

#include "foundation/Log.h"
#include "platform/Displays.h"

namespace orvel {

// The output power manager that wlroots compositors (river, wayfire, labwc, Hyprland, sway …)
// offer as the Wayland global zwlr_output_power_manager_v1. Each exchange has a connection of its
// own on the run loop, closed once the compositor has answered or after 2 s: one at construction
// to learn whether the global is listed, one per sleepAll() to switch every wl_output off. The
// protocol leaves waking the outputs to the compositor. `display` is $WAYLAND_DISPLAY (a name
// under $XDG_RUNTIME_DIR or an absolute path); empty asks nothing. Threading: main thread only.
class WlrOutputPower {
  public:
    explicit WlrOutputPower(std::string display);
    ~WlrOutputPower();
    WlrOutputPower(const WlrOutputPower&) = delete;
    WlrOutputPower& operator=(const WlrOutputPower&) = delete;

    // Whether the compositor listed the manager; false until it has answered.
    bool offered() const { return offered_; }
    // Asks for every output to be switched off; the outcome, output by output (as the mode
    // events read it back), is logged and handed to `done`. A later request drops this one.
    void sleepAll(DisplaySleepDone done = {});

    struct Exchange;

  private:
    void start(bool sleep, DisplaySleepDone done = {});
    void finish(Exchange& exchange);

    std::string display_;
    bool offered_ = false;
    std::unique_ptr<Exchange> probe_;
    std::unique_ptr<Exchange> sleep_;
    Logger log_{"devices"};
};

}  // namespace orvel
