#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "platform/linux/LayoutBox.h"

namespace orvel {

// Hears a click anywhere but on one window of this process, where the compositor tells of none:
// a click on a layer-shell bar moves no focus. A transparent surface on the overlay layer of each
// output (wlroots' layer shell) takes the pointer everywhere but over the window; the first
// button pressed on it takes it away and is told, so that one click dismisses as a popup's does
// and the next reaches what lies under it. Each cover has a Wayland connection of its own, and
// closing it takes every surface away (also when the process ends). A compositor without the
// layer shell is said so once in the log and covers nothing. `display` is $WAYLAND_DISPLAY.
// Threading: main thread only.
class WlrClickCatcher {
  public:
    explicit WlrClickCatcher(std::string display);
    ~WlrClickCatcher();
    WlrClickCatcher(const WlrClickCatcher&) = delete;
    WlrClickCatcher& operator=(const WlrClickCatcher&) = delete;

    // Covers each of `outputs` the compositor names, sparing `spared` (both in the layout);
    // `pressed` is called once, on the first press, after the cover has gone. Replaces any cover.
    void cover(const std::vector<LayoutOutput>& outputs, LayoutBox spared,
               std::function<void()> pressed);
    void uncover();
    // Whether the cover is drawn and the compositor has taken it.
    bool isCovering() const;

    struct Cover;

  private:
    void end();
    void tellOnce(const std::string& why);

    std::string display_;
    std::unique_ptr<Cover> cover_;
    bool told_ = false;
    Logger log_{"ui"};
};

}  // namespace orvel
