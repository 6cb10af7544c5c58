#pragma once

#include "platform/AccessibilityDisplay.h"

namespace orvel {

// Accessibility display settings that tests set. Setting a flag announces the change, as the
// desktop does; setting the text size does not, unless the test asks for a desktop that does.
class SimAccessibilityDisplay final : public AccessibilityDisplay {
  public:
    bool shouldReduceTransparency() override { return reduceTransparency_; }
    bool shouldIncreaseContrast() override { return increaseContrast_; }
    bool shouldDifferentiateWithoutColor() override { return differentiateWithoutColor_; }
    double bodyFontSize() override { return bodySize_; }
    bool screenReaderEnabled() override { return screenReader_; }

    void setReduceTransparency(bool on) {
        reduceTransparency_ = on;
        displayOptionsDidChange.send();
    }
    void setIncreaseContrast(bool on) {
        increaseContrast_ = on;
        displayOptionsDidChange.send();
    }
    void setDifferentiateWithoutColor(bool on) {
        differentiateWithoutColor_ = on;
        displayOptionsDidChange.send();
    }
    void setBodyFontSize(double points) {
        bodySize_ = points;
        if (announcesTextSize_) {
            displayOptionsDidChange.send();
        }
    }
    // A desktop that announces text size changes too.
    void setAnnouncesTextSizeChanges(bool announces) { announcesTextSize_ = announces; }
    bool announcesTextSizeChanges() const override { return announcesTextSize_; }
    void setScreenReaderEnabled(bool on) { screenReader_ = on; }

  private:
    bool reduceTransparency_ = false;
    bool increaseContrast_ = false;
    bool differentiateWithoutColor_ = false;
    double bodySize_ = kStandardBodySize;
    bool screenReader_ = false;
    bool announcesTextSize_ = false;
};

}  // namespace orvel
