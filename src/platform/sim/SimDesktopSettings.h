#pragma once

#include "platform/DesktopSettings.h"

namespace orvel {

// A desktop that has said nothing until a test sets its colour scheme.
class SimDesktopSettings final : public DesktopSettings {
  public:
    ColorScheme colorScheme() const override { return scheme_; }

    // Control: the desktop changes its scheme (sent only when it differs).
    void setColorScheme(ColorScheme scheme) {
        if (scheme != scheme_) {
            scheme_ = scheme;
            colorSchemeChanged.send(scheme);
        }
    }

  private:
    ColorScheme scheme_ = ColorScheme::unknown;
};

}  // namespace orvel
