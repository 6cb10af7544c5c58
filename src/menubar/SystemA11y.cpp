#include "menubar/SystemA11y.h"

#include <algorithm>
#include <cmath>

#include "platform/AccessibilityDisplay.h"

namespace orvel {

namespace {
// A text factor closer than this to the published one is not worth redrawing the panel for.
constexpr double kFactorTolerance = 0.01;
}  // namespace

SystemA11y::SystemA11y(AccessibilityDisplay& display) : display_(display) {
    refresh();
    changes_ = display_.displayOptionsDidChange.subscribe([this] { changed(); });
    // The text size may change unannounced: look for it now and then.
    if (!display_.announcesTextSizeChanges()) {
        timer_ = RunLoop::main().every(kRefreshInterval, [weakSelf = weakRef(*this)] {
            if (auto* self = weakSelf.get()) {
                self->refresh();
            }
        });
    }
}

void SystemA11y::changed() {
    RunLoop::main().async([weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->refresh();
        }
    });
}

void SystemA11y::refresh() {
    AccessibilityDisplay& display = display_;
    const bool transparency = display.shouldReduceTransparency();
    const bool contrast = display.shouldIncreaseContrast();
    const bool withoutColor = display.shouldDifferentiateWithoutColor();
    const double factor = std::max(
        std::min(display.bodyFontSize() / AccessibilityDisplay::kStandardBodySize, 2.0), 0.5);
    if (transparency != reduceTransparency()) {
        reduceTransparency = transparency;
    }
    if (contrast != increaseContrast()) {
        increaseContrast = contrast;
    }
    if (withoutColor != differentiateWithoutColor()) {
        differentiateWithoutColor = withoutColor;
    }
    if (std::abs(factor - textFactor()) > kFactorTolerance) {
        textFactor = factor;
    }
}

}  // namespace orvel
