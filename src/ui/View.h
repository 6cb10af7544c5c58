#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Date.h"
#include "ui/Types.h"

// The declarative view tree. A view's body() builds a tree of nodes from its state and the
// services it observes; hosts turn trees into something to see (widgets) or to inspect (tests).
// Trees are values: building one has no side effects. Main thread only.

namespace orvel::ui {

class ViewComponent;

enum class NodeKind {
    empty,
    group,  // children without a layout of their own (conditional content, lists of rows)
    vstack,
    hstack,
    zstack,
    scroll,
    form,
    section,
    tabView,
    list,
    divider,
    spacer,
    text,
    label,  // a title with a symbol
    image,
    shape,
    button,
    toggle,
    picker,
    menu,
    textField,
    stepper,
    datePicker,
    labeledContent,
    progress,
    splitView,    // a sidebar column and a detail beside it
    searchField,  // a text field for search terms; every keystroke writes
    component,    // an embedded view object with its own state
    // Layout wrappers, outermost last, as the modifiers were applied.
    padding,
    frame,
    fixedSize,
    background,
    overlay,
};

const char* nodeKindName(NodeKind kind);

// One entry of a pull-down menu.
struct MenuItem {
    std::string title;  // localisation key
    std::function<void()> action;
    ButtonRole role = ButtonRole::none;
    bool disabled = false;
    bool separator = false;
    // The title is data (an application's name), shown as it stands.
    bool verbatim = false;

    static MenuItem divider() {
        MenuItem item;
        item.separator = true;
        return item;
    }
};

// One page of a tab view.
struct TabItem {
    std::string tag;
    std::string title;  // localisation key
    std::string systemImage;
};

// How wide a split view's sidebar column may be, in points, and how wide it starts.
struct ColumnWidth {
    double min = 0, ideal = 0, max = 0;
    bool operator==(const ColumnWidth&) const = default;
};

enum DateComponents : unsigned { kDateComponentDate = 1, kDateComponentHourMinute = 2 };

struct Node;
using NodePtr = std::shared_ptr<const Node>;

// A view value. Modifiers return a changed copy (nodes are shared until changed).
class View {
  public:
    View();
    explicit View(std::shared_ptr<Node> node) : node_(std::move(node)) {}

    const Node& node() const { return *node_; }
    NodePtr shared() const { return node_; }

    // Environment and behaviour (on this node; inherited ones apply to its descendants too).
    View font(Font font) const;
    View fontWeight(FontWeight weight) const;  // imposed on every text inside
    View foregroundStyle(ForegroundStyle style) const;
    View opacity(double value) const;
    View disabled(bool disabled = true) const;
    View help(std::string text) const;  // the tooltip, a localisation key
    View accessibilityLabel(std::string text) const;
    View accessibilityHint(std::string text) const;
    View accessibilityValue(std::string text) const;
    // A label or value made of data or already in the reader's language, read as it stands.
    View accessibilityLabelVerbatim(std::string text) const;
    View accessibilityValueVerbatim(std::string text) const;
    // Read as one of a set of choices (a radio item): the chosen one or not.
    View accessibilityChoice(bool chosen) const;
    View onTapGesture(std::function<void()> action) const;
    View onAppear(std::function<void()> action) const;
    View onDisappear(std::function<void()> action) const;
    // A text field's action when the keyboard focus leaves it.
    View onFocusLost(std::function<void()> action) const;
    // Calls `action` every `interval` seconds while the view is shown.
    View onTimer(double interval, std::function<void()> action) const;
    View labelsHidden(bool hidden = true) const;
    View textSelection(bool enabled = true) const;
    View multilineTextAlignment(TextAlignment alignment) const;
    View lineLimit(int lines) const;
    // Extra points between the lines of the texts inside.
    View lineSpacing(double points) const;
    View buttonStyle(ButtonStyle style) const;
    View toggleStyle(ToggleStyle style) const;
    View pickerStyle(PickerStyle style) const;
    View controlSize(ControlSize size) const;
    View keyboardShortcut(KeyboardShortcut shortcut) const;
    View menuIndicatorHidden(bool hidden = true) const;
    // Stable identity among siblings, so hosts keep a row's state when rows move.
    View id(std::string key) const;
    // The value a picker option stands for.
    View tag(std::string value) const;
    // Called when a scroll view has been scrolled to its end.
    View onScrolledToEnd(std::function<void()> action) const;
    // A form or scroll view that never scrolls: its content takes the height it needs. Decided
    // when the view is first shown in its place.
    View scrollDisabled(bool disabled = true) const;
    // A vertical stack of rows (horizontal stacks, framed or padded) whose cells line up: each
    // cell but a row's last is as wide as the widest in its place, whatever the words' length.
    View alignsColumns(bool aligns = true) const;

    // Layout wrappers: each wraps the view so far, in order, as in a declarative toolkit.
    View padding(double amount = 8) const;
    View padding(unsigned edges, double amount) const;
    View padding(EdgeInsets insets) const;
    View frame(Frame frame) const;
    View frame(std::optional<double> width, std::optional<double> height = std::nullopt,
               Alignment alignment = {}) const;
    View fixedSize(bool horizontal = true, bool vertical = true) const;
    View background(Background background) const;
    View background(Color color, Shape shape = Shape::rectangle()) const;
    View overlay(Stroke stroke) const;

  private:
    Node& mutableNode();
    View wrapped(NodeKind kind) const;
    std::shared_ptr<Node> node_;
};

// Everything one node can carry. Fields that do not belong to the node's kind stay empty.
struct Node {
    NodeKind kind = NodeKind::empty;
    std::vector<View> children;

    // Identity and environment.
    std::optional<std::string> id;
    std::optional<std::string> tag;
    std::optional<Font> font;
    std::optional<FontWeight> fontWeight;
    std::optional<ForegroundStyle> foreground;
    std::optional<ButtonStyle> buttonStyle;
    std::optional<ToggleStyle> toggleStyle;
    std::optional<PickerStyle> pickerStyle;
    std::optional<ControlSize> controlSize;
    std::optional<bool> labelsHidden;
    std::optional<TextAlignment> multilineAlignment;
    double opacity = 1.0;
    bool disabled = false;
    bool textSelection = false;
    std::optional<int> lineLimit;
    std::optional<double> lineSpacing;
    std::optional<std::string> help;
    std::optional<std::string> accessibilityLabel;
    std::optional<std::string> accessibilityHint;
    std::optional<std::string> accessibilityValue;
    bool accessibilityLabelVerbatim = false;
    bool accessibilityValueVerbatim = false;
    std::optional<bool> accessibilityChosen;  // a radio item's state
    std::function<void()> onTap;
    std::function<void()> onAppear;
    std::function<void()> onDisappear;
    double timerInterval = 0;
    std::function<void()> onTimer;

    // Stacks.
    HAlign hAlign = HAlign::center;
    VAlign vAlign = VAlign::center;
    Alignment alignment;  // zstack
    std::optional<double> spacing;
    bool alignsColumns = false;  // vstack

    // Text, label, image, menus and fields.
    std::string text;       // text content, label title, menu title, field placeholder
    bool verbatim = false;  // shown as is, not looked up as a localisation key
    // Markdown words already in the reader's language (a help page), drawn but not looked up.
    bool wordsGiven = false;
    std::string systemImage;
    double rotationDegrees = 0;
    // An application's icon, drawn in place of the symbol when the host finds it: by the icon
    // theme's name, else from its picture file.
    std::string iconName;
    std::string iconFile;

    // Shapes.
    Shape shape;
    std::optional<Color> fill;
    std::optional<Stroke> stroke;

    // Controls.
    std::function<void()> action;
    ButtonRole role = ButtonRole::none;
    std::optional<KeyboardShortcut> shortcut;
    Binding<bool> boolBinding;
    Binding<std::string> textBinding;  // text fields, picker and tab selections
    Binding<std::int64_t> integerBinding;
    bool isInteger = false;  // an integer field: the text is reformatted when the edit ends
    bool secure = false;
    std::function<void()> onSubmit;
    std::function<void()> onFocusLost;
    Binding<double> numberBinding;  // steppers
    double minimum = 0, maximum = 0, step = 1;
    Binding<Date> dateBinding;
    unsigned dateComponents = kDateComponentDate;
    std::vector<MenuItem> menuItems;
    // Items made only when the menu opens, in place of menuItems.
    std::function<std::vector<MenuItem>()> menuContent;
    bool menuIndicatorHidden = false;
    std::vector<TabItem> tabs;
    std::optional<double> progress;  // nothing: indeterminate

    // Scroll views.
    bool horizontalScroll = false;
    bool showsIndicators = true;
    bool scrollDisabled = false;
    std::function<void()> onScrolledToEnd;

    // Wrappers.
    EdgeInsets insets;
    Frame frameValue;
    bool fixedHorizontal = false, fixedVertical = false;
    Background backgroundValue;
    Stroke overlayValue;

    // Split views.
    ColumnWidth sidebarWidth;

    // Components.
    std::shared_ptr<ViewComponent> component;

    // Sections: header and footer views.
    std::optional<View> header;
    std::optional<View> footer;
};

// Builders
// -----------------------------------------------------------------------------------------

View EmptyView();
View Group(std::vector<View> children);
// The view when `condition` holds, else nothing.
View If(bool condition, const std::function<View()>& make);

View VStack(HAlign alignment, std::optional<double> spacing, std::vector<View> children);
View VStack(std::vector<View> children);
View HStack(VAlign alignment, std::optional<double> spacing, std::vector<View> children);
View HStack(std::vector<View> children);
View ZStack(Alignment alignment, std::vector<View> children);

View ScrollView(View content, bool horizontal = false, bool showsIndicators = true);
View Form(std::vector<View> children);
View Section(std::optional<View> header, std::vector<View> children,
             std::optional<View> footer = std::nullopt);
View TabView(Binding<std::string> selection, std::vector<TabItem> tabs, std::vector<View> pages);
View List(std::vector<View> rows);
// A list with one selected row: rows are tagged with .tag(value); the row whose tag the
// selection holds is highlighted (none when no row's does) and clicking a row selects it.
View List(Binding<std::string> selection, std::vector<View> rows);
// Two columns: the sidebar, kept within its widths, and the detail, which takes the rest.
View SplitView(View sidebar, View detail, ColumnWidth sidebarWidth);

// One view per element, each identified by idOf(element).
template <class T>
View ForEach(const std::vector<T>& items, const std::function<std::string(const T&)>& idOf,
             const std::function<View(const T&)>& make) {
    std::vector<View> rows;
    rows.reserve(items.size());
    for (const auto& item : items) {
        rows.push_back(make(item).id(idOf(item)));
    }
    return Group(std::move(rows));
}

View Divider();
View Spacer(std::optional<double> minLength = std::nullopt);

// A localisation key, shown in the current language; inline Markdown (**bold**, *italic*,
// `code`, [link](url)) is drawn.
View Text(std::string key);
// Text shown exactly as given (data: names, command lines, error texts).
View TextVerbatim(std::string text);
// Words in the reader's language with inline Markdown, drawn as Text draws a key's text.
View TextMarkdown(std::string words);
// A text node's words before its Markdown is drawn: the key's text in the current language, or
// the words it was given.
std::string rawText(const Node& node);
// The accessibility label and value as read out: looked up unless given verbatim; empty when
// there is none.
std::string accessibilityLabelOf(const Node& node);
std::string accessibilityValueOf(const Node& node);
View Label(std::string titleKey, std::string systemImage);
View Image(std::string systemName, double rotationDegrees = 0);
// An application's icon (see Node::iconName), or the generic application symbol without one.
View ApplicationIcon(std::string iconName, std::string iconFile);
View ShapeFill(Shape shape, Color color);
View ShapeStroke(Shape shape, Color color, double lineWidth = 1);

View Button(std::string titleKey, std::function<void()> action, ButtonRole role = ButtonRole::none);
View Button(View label, std::function<void()> action, ButtonRole role = ButtonRole::none);
View Toggle(std::string titleKey, Binding<bool> isOn);
View Toggle(View label, Binding<bool> isOn);
// Options are views tagged with .tag(value); a selection that matches no tag selects none.
View Picker(std::string titleKey, Binding<std::string> selection, std::vector<View> options);
View Menu(std::string titleKey, std::vector<MenuItem> items);
View Menu(View label, std::vector<MenuItem> items);
// A menu whose items are made each time it opens, for lists that cost a look at the system.
View MenuOnOpen(View label, std::function<std::vector<MenuItem>()> items);
View TextField(std::string placeholderKey, Binding<std::string> text,
               std::function<void()> onSubmit = nullptr);
// An integer field: each edit that leaves a whole number writes it, and text that is none
// stands for the value from before the typing; on Return or when the field loses focus it shows
// the value again in the locale's form.
View IntegerField(std::string placeholderKey, Binding<std::int64_t> value);
View SecureField(std::string placeholderKey, Binding<std::string> text,
                 std::function<void()> onSubmit = nullptr);
// A search field with a prompt; every keystroke writes the text as typed, and Return calls
// `onSubmit`.
View SearchField(std::string promptKey, Binding<std::string> text,
                 std::function<void()> onSubmit = nullptr);
// A minimum above the maximum collapses the range to the maximum; a step that would not change
// the value writes nothing.
View Stepper(View label, Binding<double> value, double minimum, double maximum, double step = 1);
View DatePicker(std::string titleKey, Binding<Date> selection, unsigned components);
View LabeledContent(std::string labelKey, View value);
View ProgressView(std::optional<double> fraction = std::nullopt);
// Embeds a view object that keeps its own state; the same object keeps it across evaluations.
View Embed(std::shared_ptr<ViewComponent> component);

// Bindings to the text tags of pickers and tab views.
Binding<std::string> intTagBinding(Binding<std::int64_t> value);
Binding<std::string> boolTagBinding(Binding<bool> value);

}  // namespace orvel::ui
