#pragma once

#include "foundation/Signal.h"

// The desktop's accessibility display settings and preferred text size. Threading: main thread
// only; the signal is sent on the main thread.

namespace orvel {

class AccessibilityDisplay {
  public:
    // The text size the desktop's body text has at its standard setting.
    static constexpr double kStandardBodySize = 13.0;

    virtual ~AccessibilityDisplay() = default;

    virtual bool shouldReduceTransparency() = 0;
    virtual bool shouldIncreaseContrast() = 0;
    virtual bool shouldDifferentiateWithoutColor() = 0;
    // The point size of the user's preferred body text.
    virtual double bodyFontSize() = 0;
    // Whether a screen reader is running for this session.
    virtual bool screenReaderEnabled() = 0;

    // Whether displayOptionsDidChange tells of text size changes too; when false, callers must
    // look again now and then to notice one.
    virtual bool announcesTextSizeChanges() const { return false; }

    // One of the three settings changed. A change of the text size alone may go unannounced.
    Signal<> displayOptionsDidChange;
};

}  // namespace orvel
