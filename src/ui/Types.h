#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <variant>

// Plain values that views are described with: colours, fonts, insets, frames, shapes, styles.

namespace orvel::ui {

inline constexpr double kInfinity = std::numeric_limits<double>::infinity();

enum class HAlign { leading, center, trailing };
enum class VAlign { top, center, bottom, firstTextBaseline };

struct Alignment {
    HAlign horizontal = HAlign::center;
    VAlign vertical = VAlign::center;

    static constexpr Alignment center() { return {}; }
    static constexpr Alignment leading() { return {HAlign::leading, VAlign::center}; }
    static constexpr Alignment trailing() { return {HAlign::trailing, VAlign::center}; }
    static constexpr Alignment top() { return {HAlign::center, VAlign::top}; }
    static constexpr Alignment bottom() { return {HAlign::center, VAlign::bottom}; }
    static constexpr Alignment topLeading() { return {HAlign::leading, VAlign::top}; }
    static constexpr Alignment topTrailing() { return {HAlign::trailing, VAlign::top}; }
    bool operator==(const Alignment&) const = default;
};

enum class TextAlignment { leading, center, trailing };

// Colours -----------------------------------------------------------------------------------------

// The semantic colours of the desktop; each host maps them to its palette and appearance.
enum class NamedColor {
    accent,
    primaryLabel,
    secondaryLabel,
    tertiaryLabel,
    windowBackground,
    controlBackground,
    separator,
    red,
    orange,
    yellow,
    green,
    blue,
    purple,
    gray,
    black,
    white,
    clear,
};

struct RGBA {
    double r = 0, g = 0, b = 0, a = 1;
    bool operator==(const RGBA&) const = default;
};

// A colour: a named colour, an sRGB value, or a pair that follows the light or dark appearance.
struct Color {
    std::variant<NamedColor, RGBA> light = NamedColor::primaryLabel;
    std::optional<RGBA> dark;  // set for appearance-dependent colours
    double opacity = 1.0;

    static Color named(NamedColor name) { return Color{name, std::nullopt, 1.0}; }
    static Color rgb(double r, double g, double b, double a = 1.0) {
        return Color{RGBA{r, g, b, a}, std::nullopt, 1.0};
    }
    // An appearance-dependent colour: `lightValue` in light mode, `darkValue` in dark mode.
    static Color dynamic(RGBA lightValue, RGBA darkValue) {
        return Color{lightValue, darkValue, 1.0};
    }
    static Color accent() { return named(NamedColor::accent); }
    static Color orange() { return named(NamedColor::orange); }
    static Color red() { return named(NamedColor::red); }
    static Color green() { return named(NamedColor::green); }
    static Color secondary() { return named(NamedColor::secondaryLabel); }
    static Color black() { return named(NamedColor::black); }
    static Color clear() { return named(NamedColor::clear); }
    static Color windowBackground() { return named(NamedColor::windowBackground); }

    Color withOpacity(double value) const {
        Color c = *this;
        c.opacity = value;
        return c;
    }
    bool operator==(const Color&) const = default;
};

// The foreground of text and symbols: a level of the label hierarchy or a colour.
enum class Hierarchy { primary, secondary, tertiary, quaternary };
using ForegroundStyle = std::variant<Hierarchy, Color>;

// Fonts -------------------------------------------------------------------------------------------

enum class FontWeight { ultraLight, thin, light, regular, medium, semibold, bold, heavy, black };
enum class TextStyle {
    largeTitle,
    title,
    title2,
    title3,
    headline,
    subheadline,
    body,
    callout,
    footnote,
    caption,
    caption2
};

struct Font {
    double size = 13.0;  // points
    std::optional<FontWeight> weight;
    bool monospaced = false;        // the monospaced design
    bool monospacedDigits = false;  // proportional letters, fixed-width digits
    bool italic = false;

    static Font system(double size, std::optional<FontWeight> weight = std::nullopt) {
        Font f;
        f.size = size;
        f.weight = weight;
        return f;
    }
    // The desktop's size and weight for a text style.
    static Font style(TextStyle textStyle);

    Font withWeight(FontWeight w) const {
        Font f = *this;
        f.weight = w;
        return f;
    }
    Font withMonospaced() const {
        Font f = *this;
        f.monospaced = true;
        return f;
    }
    Font withMonospacedDigits() const {
        Font f = *this;
        f.monospacedDigits = true;
        return f;
    }
    Font withItalic() const {
        Font f = *this;
        f.italic = true;
        return f;
    }
    bool operator==(const Font&) const = default;
};

// Geometry
// -----------------------------------------------------------------------------------------

enum Edge : unsigned {
    kEdgeTop = 1,
    kEdgeLeading = 2,
    kEdgeBottom = 4,
    kEdgeTrailing = 8,
    kEdgeHorizontal = kEdgeLeading | kEdgeTrailing,
    kEdgeVertical = kEdgeTop | kEdgeBottom,
    kEdgeAll = kEdgeHorizontal | kEdgeVertical,
};

struct EdgeInsets {
    double top = 0, leading = 0, bottom = 0, trailing = 0;
    static EdgeInsets on(unsigned edges, double amount) {
        return EdgeInsets{edges & kEdgeTop ? amount : 0, edges & kEdgeLeading ? amount : 0,
                          edges & kEdgeBottom ? amount : 0, edges & kEdgeTrailing ? amount : 0};
    }
    bool operator==(const EdgeInsets&) const = default;
};

// A frame around a view: fixed sizes, or limits (kInfinity for "as wide as possible").
struct Frame {
    std::optional<double> width, height;
    std::optional<double> minWidth, maxWidth, minHeight, maxHeight;
    Alignment alignment;

    static Frame fixed(std::optional<double> w, std::optional<double> h = std::nullopt) {
        Frame f;
        f.width = w;
        f.height = h;
        return f;
    }
    Frame& withMinWidth(double v) { return minWidth = v, *this; }
    Frame& withMaxWidth(double v) { return maxWidth = v, *this; }
    Frame& withMinHeight(double v) { return minHeight = v, *this; }
    Frame& withMaxHeight(double v) { return maxHeight = v, *this; }
    Frame& withAlignment(Alignment a) { return alignment = a, *this; }
    bool operator==(const Frame&) const = default;
};

enum class ShapeKind { rectangle, roundedRectangle, circle, capsule, ellipse };

struct Shape {
    ShapeKind kind = ShapeKind::rectangle;
    double cornerRadius = 0;
    bool continuousCorners = false;

    static Shape rectangle() { return {}; }
    static Shape rounded(double radius, bool continuous = true) {
        return {ShapeKind::roundedRectangle, radius, continuous};
    }
    static Shape circle() { return {ShapeKind::circle, 0, false}; }
    static Shape capsule() { return {ShapeKind::capsule, 0, false}; }
    bool operator==(const Shape&) const = default;
};

// Translucent backgrounds that let what lies behind a window show through.
enum class Material { regular, thin, thick, menu, popover, sidebar };

struct Background {
    std::variant<Color, Material> fill = Color::clear();
    Shape shape;
    bool ignoresSafeArea = false;
    bool operator==(const Background&) const = default;
};

struct Stroke {
    Color color;
    double lineWidth = 1.0;
    Shape shape;
    bool operator==(const Stroke&) const = default;
};

// Controls
// -----------------------------------------------------------------------------------------

enum class ControlSize { mini, small, regular, large };

enum class ButtonRole { none, destructive, cancel };

// The look of a menu-like row: full width, a leading inset, a rounded accent background while
// pressed, no hover effect.
struct MenuRowStyle {
    double indent = 0;
    double scale = 1.0;
    bool operator==(const MenuRowStyle&) const = default;
};

enum class StandardButtonStyle { automatic, bordered, borderedProminent, plain, borderless, link };
using ButtonStyle = std::variant<StandardButtonStyle, MenuRowStyle>;

enum class ToggleStyle { automatic, switchStyle, checkbox, button };
enum class PickerStyle { automatic, menu, segmented, radioGroup, inline_ };

// Key equivalents: a character or a named key, with modifiers.
enum Modifier : unsigned {
    kModifierCommand = 1,
    kModifierShift = 2,
    kModifierOption = 4,
    kModifierControl = 8,
};
struct KeyboardShortcut {
    std::string key;  // one character, or "return", "escape", "delete", "tab", "space"
    unsigned modifiers = kModifierCommand;

    static KeyboardShortcut defaultAction() { return {"return", 0}; }
    static KeyboardShortcut cancelAction() { return {"escape", 0}; }
    bool operator==(const KeyboardShortcut&) const = default;
};
// The shortcut as this desktop writes it for people ("Meta+Ctrl+Alt+C"), the way the Qt host
// binds it: Command is Ctrl, Option Alt, Control Meta.
std::string shortcutText(const KeyboardShortcut& shortcut);

// A two-way connection between a control and the value it edits: get reads the source of
// truth, set writes straight to it (views never keep copies).
template <class T>
struct Binding {
    std::function<T()> get;
    std::function<void(const T&)> set;

    T operator()() const { return get(); }
    // A binding to a value that never changes.
    static Binding constant(T value) {
        return Binding{[value] { return value; }, [](const T&) {}};
    }
};

}  // namespace orvel::ui
