#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

#include "ui/Types.h"

namespace orvel::ui {

// The look of the Qt host: the light and dark palettes, and how the view tree's colours, label
// levels and fonts map onto the current palette. Main thread only.
class Appearance {
  public:
    static QPalette lightPalette();
    static QPalette darkPalette();
    // Installs one of the two palettes application-wide (the program follows the desktop's
    // palette otherwise).
    static void apply(bool dark);
    static bool isDark(const QPalette& palette);

    static QColor named(NamedColor name, const QPalette& palette);
    static QColor color(const Color& color, const QPalette& palette);
    // Label levels: decreasing contrast against the window.
    static QColor hierarchy(Hierarchy level, const QPalette& palette);
    // The colour of words and symbols in a style (the accent in its shade for words).
    static QColor foreground(const ForegroundStyle& style, const QPalette& palette);
    // The translucent panel colour that stands for a material.
    static QColor material(Material material, const QPalette& palette);
    // A font of the view tree in the application's families; `imposed` overrides the weight.
    static QFont font(const Font& font, std::optional<FontWeight> imposed = std::nullopt);
    static QColor mix(const QColor& a, const QColor& b, double amountOfB);
    // Relative luminance and the contrast ratio between two colours, as WCAG reckons them.
    static double luminance(const QColor& color);
    static double contrast(const QColor& a, const QColor& b);
};

}  // namespace orvel::ui
