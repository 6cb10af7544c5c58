#include "ui/qt/Appearance.h"

#include <QApplication>
#include <QFontDatabase>

#include <algorithm>
#include <cmath>

namespace orvel::ui {

namespace {

QColor rgba(const RGBA& c) {
    return QColor::fromRgbF(static_cast<float>(c.r), static_cast<float>(c.g),
                            static_cast<float>(c.b), static_cast<float>(c.a));
}

void setBoth(QPalette& p, QPalette::ColorRole role, const QColor& color) {
    p.setColor(QPalette::Active, role, color);
    p.setColor(QPalette::Inactive, role, color);
}

bool isHue(NamedColor name) {
    switch (name) {
        case NamedColor::red:
        case NamedColor::orange:
        case NamedColor::yellow:
        case NamedColor::green:
        case NamedColor::blue:
        case NamedColor::purple:
        case NamedColor::gray:
            return true;
        default:
            return false;
    }
}

// Words sit on the window, on grouped boxes and on buttons. The one closest to them in lightness
// is a button's face (the style lightens its colour) in the dark palette and a box a shade below
// the window in the light one.
QColor hardestGround(const QPalette& p) {
    return Appearance::isDark(p) ? p.color(QPalette::Button).lighter(135)
                                 : p.color(QPalette::Window).darker(105);
}

// The colour, of the same hue, darkened (lightened in the dark palette) just enough that words in
// it read at 4.5:1 on any of their grounds: the hues as drawn in shapes, and the grey levels, are
// too faint for small text.
QColor readable(const QColor& c, const QPalette& p) {
    const QColor ground = hardestGround(p);
    const float towards = Appearance::isDark(p) ? 0.025f : -0.025f;
    float hue = 0, saturation = 0, lightness = 0, alpha = 1;
    c.getHslF(&hue, &saturation, &lightness, &alpha);
    hue = std::max(hue, 0.0f);  // a grey has none
    QColor shade = c;
    for (int step = 1; step <= 40 && Appearance::contrast(shade, ground) < 4.5; ++step) {
        shade = QColor::fromHslF(
            hue, saturation, std::clamp(lightness + towards * static_cast<float>(step), 0.0f, 1.0f),
            alpha);
    }
    return shade;
}

}  // namespace

QPalette Appearance::lightPalette() {
    QPalette p;
    setBoth(p, QPalette::Window, QColor(0xEC, 0xEC, 0xEC));
    setBoth(p, QPalette::WindowText, QColor(0x1E, 0x1E, 0x1E));
    setBoth(p, QPalette::Base, QColor(0xFF, 0xFF, 0xFF));
    setBoth(p, QPalette::AlternateBase, QColor(0xF5, 0xF5, 0xF5));
    setBoth(p, QPalette::Text, QColor(0x1E, 0x1E, 0x1E));
    setBoth(p, QPalette::Button, QColor(0xF8, 0xF8, 0xF8));
    setBoth(p, QPalette::ButtonText, QColor(0x1E, 0x1E, 0x1E));
    setBoth(p, QPalette::Highlight, QColor(0x2F, 0x6F, 0xE4));
    setBoth(p, QPalette::HighlightedText, Qt::white);
    setBoth(p, QPalette::Link, QColor(0x1F, 0x5F, 0xD6));
    setBoth(p, QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xF2));
    setBoth(p, QPalette::ToolTipText, QColor(0x1E, 0x1E, 0x1E));
    setBoth(p, QPalette::PlaceholderText, QColor(0x9A, 0x9A, 0x9A));
    setBoth(p, QPalette::Light, Qt::white);
    setBoth(p, QPalette::Midlight, QColor(0xE2, 0xE2, 0xE2));
    setBoth(p, QPalette::Mid, QColor(0xC4, 0xC4, 0xC4));
    setBoth(p, QPalette::Dark, QColor(0xA8, 0xA8, 0xA8));
    setBoth(p, QPalette::Shadow, QColor(0x70, 0x70, 0x70));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xA6, 0xA6, 0xA6));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0xA6, 0xA6, 0xA6));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0xA6, 0xA6, 0xA6));
    p.setColor(QPalette::Disabled, QPalette::Window, QColor(0xEC, 0xEC, 0xEC));
    p.setColor(QPalette::Disabled, QPalette::Base, QColor(0xF4, 0xF4, 0xF4));
    p.setColor(QPalette::Disabled, QPalette::Button, QColor(0xF2, 0xF2, 0xF2));
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0xB8, 0xC8, 0xE8));
    return p;
}

QPalette Appearance::darkPalette() {
    QPalette p;
    setBoth(p, QPalette::Window, QColor(0x2B, 0x2B, 0x2D));
    setBoth(p, QPalette::WindowText, QColor(0xE8, 0xE8, 0xEA));
    setBoth(p, QPalette::Base, QColor(0x1E, 0x1E, 0x20));
    setBoth(p, QPalette::AlternateBase, QColor(0x33, 0x33, 0x36));
    setBoth(p, QPalette::Text, QColor(0xE8, 0xE8, 0xEA));
    setBoth(p, QPalette::Button, QColor(0x40, 0x40, 0x43));
    setBoth(p, QPalette::ButtonText, QColor(0xE8, 0xE8, 0xEA));
    setBoth(p, QPalette::Highlight, QColor(0x2F, 0x6A, 0xD8));
    setBoth(p, QPalette::HighlightedText, Qt::white);
    setBoth(p, QPalette::Link, QColor(0x5A, 0x9B, 0xFF));
    setBoth(p, QPalette::ToolTipBase, QColor(0x3A, 0x3A, 0x3C));
    setBoth(p, QPalette::ToolTipText, QColor(0xE8, 0xE8, 0xEA));
    setBoth(p, QPalette::PlaceholderText, QColor(0x7E, 0x7E, 0x82));
    setBoth(p, QPalette::Light, QColor(0x5A, 0x5A, 0x5E));
    setBoth(p, QPalette::Midlight, QColor(0x46, 0x46, 0x4A));
    setBoth(p, QPalette::Mid, QColor(0x3A, 0x3A, 0x3D));
    setBoth(p, QPalette::Dark, QColor(0x1A, 0x1A, 0x1C));
    setBoth(p, QPalette::Shadow, QColor(0x0A, 0x0A, 0x0A));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x72, 0x72, 0x76));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x72, 0x72, 0x76));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x72, 0x72, 0x76));
    p.setColor(QPalette::Disabled, QPalette::Window, QColor(0x2B, 0x2B, 0x2D));
    p.setColor(QPalette::Disabled, QPalette::Base, QColor(0x26, 0x26, 0x28));
    p.setColor(QPalette::Disabled, QPalette::Button, QColor(0x3A, 0x3A, 0x3D));
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x3A, 0x4A, 0x6A));
    return p;
}

void Appearance::apply(bool dark) {
    QApplication::setPalette(dark ? darkPalette() : lightPalette());
}

bool Appearance::isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

double Appearance::luminance(const QColor& c) {
    const auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double Appearance::contrast(const QColor& a, const QColor& b) {
    const double x = luminance(a);
    const double y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

QColor Appearance::mix(const QColor& a, const QColor& b, double t) {
    const auto lerp = [t](float x, float y) { return static_cast<float>(x + (y - x) * t); };
    return QColor::fromRgbF(lerp(a.redF(), b.redF()), lerp(a.greenF(), b.greenF()),
                            lerp(a.blueF(), b.blueF()), lerp(a.alphaF(), b.alphaF()));
}

QColor Appearance::named(NamedColor name, const QPalette& p) {
    const bool dark = isDark(p);
    switch (name) {
        case NamedColor::accent:
            return p.color(QPalette::Highlight);
        case NamedColor::primaryLabel:
            return hierarchy(Hierarchy::primary, p);
        case NamedColor::secondaryLabel:
            return hierarchy(Hierarchy::secondary, p);
        case NamedColor::tertiaryLabel:
            return hierarchy(Hierarchy::tertiary, p);
        case NamedColor::windowBackground:
            return p.color(QPalette::Window);
        case NamedColor::controlBackground:
            return p.color(QPalette::Base);
        case NamedColor::separator:
            return dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 28);
        case NamedColor::red:
            return dark ? QColor(0xFF, 0x45, 0x3A) : QColor(0xE0, 0x2E, 0x24);
        case NamedColor::orange:
            return dark ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xE8, 0x80, 0x00);
        case NamedColor::yellow:
            return dark ? QColor(0xFF, 0xD6, 0x0A) : QColor(0xD9, 0xA8, 0x00);
        case NamedColor::green:
            return dark ? QColor(0x32, 0xD7, 0x4B) : QColor(0x1F, 0xA8, 0x3C);
        case NamedColor::blue:
            return dark ? QColor(0x0A, 0x84, 0xFF) : QColor(0x00, 0x6C, 0xE0);
        case NamedColor::purple:
            return dark ? QColor(0xBF, 0x5A, 0xF2) : QColor(0x8E, 0x3F, 0xC8);
        case NamedColor::gray:
            return dark ? QColor(0x98, 0x98, 0x9D) : QColor(0x8E, 0x8E, 0x93);
        case NamedColor::black:
            return Qt::black;
        case NamedColor::white:
            return Qt::white;
        case NamedColor::clear:
            return Qt::transparent;
    }
    return p.color(QPalette::WindowText);
}

QColor Appearance::color(const Color& c, const QPalette& p) {
    QColor base;
    if (c.dark && isDark(p)) {
        base = rgba(*c.dark);
    } else if (const auto* value = std::get_if<RGBA>(&c.light)) {
        base = rgba(*value);
    } else {
        base = named(std::get<NamedColor>(c.light), p);
    }
    base.setAlphaF(static_cast<float>(base.alphaF() * std::clamp(c.opacity, 0.0, 1.0)));
    return base;
}

QColor Appearance::hierarchy(Hierarchy level, const QPalette& p) {
    const QColor text = p.color(QPalette::WindowText);
    const QColor window = p.color(QPalette::Window);
    // Opaque blends: rich text and some styles ignore the alpha of a palette colour. The levels
    // that carry words keep 4.5:1 on every ground words sit on, in both palettes.
    switch (level) {
        case Hierarchy::primary:
            return text;
        case Hierarchy::secondary: {
            // Still a step above the tertiary level, however far that had to move to be read.
            const QColor own = readable(mix(text, window, 0.25), p);
            const QColor below = hierarchy(Hierarchy::tertiary, p);
            return contrast(own, window) > contrast(below, window) + 0.5 ? own
                                                                         : mix(below, text, 0.3);
        }
        case Hierarchy::tertiary:
            return readable(mix(text, window, 0.36), p);
        case Hierarchy::quaternary:
            return mix(text, window, 0.78);
    }
    return text;
}

QColor Appearance::foreground(const ForegroundStyle& style, const QPalette& p) {
    if (const auto* level = std::get_if<Hierarchy>(&style)) {
        return hierarchy(*level, p);
    }
    const Color& c = std::get<Color>(style);
    const auto* name = std::get_if<NamedColor>(&c.light);
    if (name != nullptr && !c.dark && isHue(*name)) {
        return readable(color(c, p), p);
    }
    if (name != nullptr && *name == NamedColor::accent && !c.dark) {
        // Words in the accent: the link shade, which reads on the window where the selection's
        // shade (under white words) would not.
        QColor link = p.color(QPalette::Link);
        link.setAlphaF(static_cast<float>(std::clamp(c.opacity, 0.0, 1.0)));
        return link;
    }
    return color(c, p);
}

QColor Appearance::material(Material material, const QPalette& p) {
    QColor panel = p.color(QPalette::Window);
    const bool dark = isDark(p);
    panel = dark ? panel.lighter(112) : panel.lighter(104);
    switch (material) {
        case Material::thin:
            panel.setAlpha(170);
            break;
        case Material::thick:
        case Material::menu:
        case Material::popover:
            panel.setAlpha(245);
            break;
        case Material::regular:
        case Material::sidebar:
            panel.setAlpha(215);
            break;
    }
    return panel;
}

QFont Appearance::font(const Font& wanted, std::optional<FontWeight> imposed) {
    QFont f = wanted.monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont)
                                : QApplication::font();
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(wanted.size))));
    const std::optional<FontWeight> weight = imposed ? imposed : wanted.weight;
    if (weight) {
        static const QFont::Weight weights[] = {
            QFont::ExtraLight, QFont::Thin, QFont::Light,     QFont::Normal, QFont::Medium,
            QFont::DemiBold,   QFont::Bold, QFont::ExtraBold, QFont::Black};
        f.setWeight(weights[static_cast<int>(*weight)]);
    } else {
        f.setWeight(QFont::Normal);
    }
    f.setItalic(wanted.italic);
    return f;
}

}  // namespace orvel::ui
