#pragma once

#include "foundation/Published.h"
#include "foundation/RunLoop.h"
#include "foundation/WeakRef.h"

namespace orvel {

class AccessibilityDisplay;

// An observable copy of the desktop's accessibility display settings and of the preferred text
// size as a factor of the standard body size, for the panel. Only real changes are published,
// so a refresh that finds nothing new disturbs no view. Main thread only.
class SystemA11y final : public ObservableObject, public WeakReferenceable {
  public:
    explicit SystemA11y(AccessibilityDisplay& display);

    Published<bool> reduceTransparency{*this, false};
    Published<bool> increaseContrast{*this, false};
    Published<bool> differentiateWithoutColor{*this, false};
    // Within 0.5 to 2.0 once the first refresh has run.
    Published<double> textFactor{*this, 1.0};

    // Reads the settings again and publishes what changed.
    void refresh();

    // A text size change may come unannounced, so it is read this often too.
    static constexpr double kRefreshInterval = 10.0;

  private:
    // The desktop said a setting changed: refresh on the next turn.
    void changed();

    AccessibilityDisplay& display_;
    Subscription changes_;
    Timer timer_;
};

}  // namespace orvel
