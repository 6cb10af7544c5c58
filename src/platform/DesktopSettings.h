#pragma once

#include "foundation/Signal.h"

// The desktop's own appearance settings, as the user chose them for every application.
// Threading: main thread only; changes are sent on the main thread.

namespace orvel {

// Whether the desktop prefers dark or light surfaces; unknown when it has not said.
enum class ColorScheme { unknown, dark, light };

class DesktopSettings {
  public:
    virtual ~DesktopSettings() = default;

    // The latest answer; unknown until the desktop has answered, and where it never does.
    virtual ColorScheme colorScheme() const = 0;

    // Sent whenever colorScheme() changes.
    Signal<ColorScheme> colorSchemeChanged;
};

}  // namespace orvel
