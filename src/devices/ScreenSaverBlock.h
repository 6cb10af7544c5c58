#pragma once

#include <optional>

#include "foundation/Signal.h"
#include "platform/PowerAssertions.h"

namespace orvel {

// Keeps the screen saver away with a display-sleep assertion while a session asks for it. A
// refused assertion is forgotten, so the next request tries again. Main thread only.
class ScreenSaverBlock {
  public:
    explicit ScreenSaverBlock(PowerAssertions& assertions);

    // true holds the assertion (once), false releases it.
    void set(bool on);
    const std::optional<AssertionID>& assertion() const { return assertion_; }

  private:
    PowerAssertions& assertions_;
    std::optional<AssertionID> assertion_;
    Subscription refused_;
};

}  // namespace orvel
