#include "ui/View.h"

#include "foundation/Localization.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

#include <cstdlib>

namespace orvel::ui {

std::string shortcutText(const KeyboardShortcut& shortcut) {
    std::string text;
    for (const auto& [bit, name] :
         {std::pair{kModifierControl, "Meta"}, std::pair{kModifierCommand, "Ctrl"},
          std::pair{kModifierOption, "Alt"}, std::pair{kModifierShift, "Shift"}}) {
        if ((shortcut.modifiers & bit) != 0) {
            text += std::string(name) + "+";
        }
    }
    static constexpr std::pair<std::string_view, std::string_view> kNamed[] = {
        {"return", "Return"},
        {"escape", "Esc"},
        {"delete", "Backspace"},
        {"tab", "Tab"},
        {"space", "Space"}};
    for (const auto& [key, name] : kNamed) {
        if (shortcut.key == key) {
            return text + std::string(name);
        }
    }
    std::string key = shortcut.key;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text + key;
}

Font Font::style(TextStyle textStyle) {
    switch (textStyle) {
        case TextStyle::largeTitle:
            return system(26);
        case TextStyle::title:
            return system(22);
        case TextStyle::title2:
            return system(17);
        case TextStyle::title3:
            return system(15);
        case TextStyle::headline:
            return system(13, FontWeight::bold);
        case TextStyle::subheadline:
            return system(11);
        case TextStyle::body:
            return system(13);
        case TextStyle::callout:
            return system(12);
        case TextStyle::footnote:
        case TextStyle::caption:
        case TextStyle::caption2:
            return system(10);
    }
    return system(13);
}

const char* nodeKindName(NodeKind kind) {
    switch (kind) {
        case NodeKind::empty:
            return "Empty";
        case NodeKind::group:
            return "Group";
        case NodeKind::vstack:
            return "VStack";
        case NodeKind::hstack:
            return "HStack";
        case NodeKind::zstack:
            return "ZStack";
        case NodeKind::scroll:
            return "ScrollView";
        case NodeKind::form:
            return "Form";
        case NodeKind::section:
            return "Section";
        case NodeKind::tabView:
            return "TabView";
        case NodeKind::list:
            return "List";
        case NodeKind::divider:
            return "Divider";
        case NodeKind::spacer:
            return "Spacer";
        case NodeKind::text:
            return "Text";
        case NodeKind::label:
            return "Label";
        case NodeKind::image:
            return "Image";
        case NodeKind::shape:
            return "Shape";
        case NodeKind::button:
            return "Button";
        case NodeKind::toggle:
            return "Toggle";
        case NodeKind::picker:
            return "Picker";
        case NodeKind::menu:
            return "Menu";
        case NodeKind::textField:
            return "TextField";
        case NodeKind::stepper:
            return "Stepper";
        case NodeKind::datePicker:
            return "DatePicker";
        case NodeKind::labeledContent:
            return "LabeledContent";
        case NodeKind::progress:
            return "ProgressView";
        case NodeKind::splitView:
            return "SplitView";
        case NodeKind::searchField:
            return "SearchField";
        case NodeKind::component:
            return "Component";
        case NodeKind::padding:
            return "Padding";
        case NodeKind::frame:
            return "Frame";
        case NodeKind::fixedSize:
            return "FixedSize";
        case NodeKind::background:
            return "Background";
        case NodeKind::overlay:
            return "Overlay";
    }
    return "?";
}

namespace {

std::shared_ptr<Node> make(NodeKind kind, std::vector<View> children = {}) {
    auto node = std::make_shared<Node>();
    node->kind = kind;
    node->children = std::move(children);
    return node;
}

}  // namespace

View::View() : node_(make(NodeKind::empty)) {}

Node& View::mutableNode() {
    if (node_.use_count() > 1) {
        node_ = std::make_shared<Node>(*node_);
    }
    return *node_;
}

View View::wrapped(NodeKind kind) const {
    return View(make(kind, {*this}));
}

#define ORVEL_MODIFIER(signature, body) \
    View View::signature const {        \
        View copy = *this;              \
        Node& n = copy.mutableNode();   \
        body;                           \
        return copy;                    \
    }

ORVEL_MODIFIER(font(Font value), n.font = value)
ORVEL_MODIFIER(fontWeight(FontWeight value), n.fontWeight = value)
ORVEL_MODIFIER(foregroundStyle(ForegroundStyle value), n.foreground = value)
ORVEL_MODIFIER(opacity(double value), n.opacity *= value)
ORVEL_MODIFIER(disabled(bool value), n.disabled = n.disabled || value)
ORVEL_MODIFIER(help(std::string value), n.help = std::move(value))
ORVEL_MODIFIER(accessibilityLabel(std::string value), n.accessibilityLabel = std::move(value))
ORVEL_MODIFIER(accessibilityHint(std::string value), n.accessibilityHint = std::move(value))
ORVEL_MODIFIER(accessibilityValue(std::string value), n.accessibilityValue = std::move(value))
ORVEL_MODIFIER(accessibilityLabelVerbatim(std::string value), {
    n.accessibilityLabel = std::move(value);
    n.accessibilityLabelVerbatim = true;
})
ORVEL_MODIFIER(accessibilityValueVerbatim(std::string value), {
    n.accessibilityValue = std::move(value);
    n.accessibilityValueVerbatim = true;
})
ORVEL_MODIFIER(accessibilityChoice(bool chosen), n.accessibilityChosen = chosen)
ORVEL_MODIFIER(onTapGesture(std::function<void()> value), n.onTap = std::move(value))
ORVEL_MODIFIER(onAppear(std::function<void()> value), n.onAppear = std::move(value))
ORVEL_MODIFIER(onDisappear(std::function<void()> value), n.onDisappear = std::move(value))
ORVEL_MODIFIER(onFocusLost(std::function<void()> value), n.onFocusLost = std::move(value))
ORVEL_MODIFIER(onTimer(double interval, std::function<void()> value),
               (n.timerInterval = interval, n.onTimer = std::move(value)))
ORVEL_MODIFIER(labelsHidden(bool value), n.labelsHidden = value)
ORVEL_MODIFIER(textSelection(bool value), n.textSelection = value)
ORVEL_MODIFIER(multilineTextAlignment(TextAlignment value), n.multilineAlignment = value)
ORVEL_MODIFIER(lineLimit(int value), n.lineLimit = value)
ORVEL_MODIFIER(lineSpacing(double value), n.lineSpacing = value)
ORVEL_MODIFIER(buttonStyle(ButtonStyle value), n.buttonStyle = value)
ORVEL_MODIFIER(toggleStyle(ToggleStyle value), n.toggleStyle = value)
ORVEL_MODIFIER(pickerStyle(PickerStyle value), n.pickerStyle = value)
ORVEL_MODIFIER(controlSize(ControlSize value), n.controlSize = value)
ORVEL_MODIFIER(keyboardShortcut(KeyboardShortcut value), n.shortcut = std::move(value))
ORVEL_MODIFIER(menuIndicatorHidden(bool value), n.menuIndicatorHidden = value)
ORVEL_MODIFIER(id(std::string value), n.id = std::move(value))
ORVEL_MODIFIER(tag(std::string value), n.tag = std::move(value))
ORVEL_MODIFIER(onScrolledToEnd(std::function<void()> value), n.onScrolledToEnd = std::move(value))
ORVEL_MODIFIER(scrollDisabled(bool value), n.scrollDisabled = value)
ORVEL_MODIFIER(alignsColumns(bool value), n.alignsColumns = value)

#undef ORVEL_MODIFIER

View View::padding(double amount) const {
    return padding(EdgeInsets::on(kEdgeAll, amount));
}

View View::padding(unsigned edges, double amount) const {
    return padding(EdgeInsets::on(edges, amount));
}

View View::padding(EdgeInsets insets) const {
    View wrapper = wrapped(NodeKind::padding);
    wrapper.mutableNode().insets = insets;
    return wrapper;
}

View View::frame(Frame content) const {
    View wrapper = wrapped(NodeKind::frame);
    wrapper.mutableNode().frameValue = content;
    return wrapper;
}

View View::frame(std::optional<double> width, std::optional<double> height,
                 Alignment alignment) const {
    Frame content = Frame::fixed(width, height);
    content.alignment = alignment;
    return frame(content);
}

View View::fixedSize(bool horizontal, bool vertical) const {
    View wrapper = wrapped(NodeKind::fixedSize);
    Node& n = wrapper.mutableNode();
    n.fixedHorizontal = horizontal;
    n.fixedVertical = vertical;
    return wrapper;
}

View View::background(Background content) const {
    View wrapper = wrapped(NodeKind::background);
    wrapper.mutableNode().backgroundValue = std::move(content);
    return wrapper;
}

View View::background(Color color, Shape shape) const {
    return background(Background{color, shape, false});
}

View View::overlay(Stroke stroke) const {
    View wrapper = wrapped(NodeKind::overlay);
    wrapper.mutableNode().overlayValue = std::move(stroke);
    return wrapper;
}

// Builders ---------------------------------------------------------------------------------------

View EmptyView() {
    return View(make(NodeKind::empty));
}

View Group(std::vector<View> children) {
    return View(make(NodeKind::group, std::move(children)));
}

View If(bool condition, const std::function<View()>& makeView) {
    return condition ? makeView() : EmptyView();
}

View VStack(HAlign alignment, std::optional<double> spacing, std::vector<View> children) {
    auto node = make(NodeKind::vstack, std::move(children));
    node->hAlign = alignment;
    node->spacing = spacing;
    return View(node);
}

View VStack(std::vector<View> children) {
    return VStack(HAlign::center, std::nullopt, std::move(children));
}

View HStack(VAlign alignment, std::optional<double> spacing, std::vector<View> children) {
    auto node = make(NodeKind::hstack, std::move(children));
    node->vAlign = alignment;
    node->spacing = spacing;
    return View(node);
}

View HStack(std::vector<View> children) {
    return HStack(VAlign::center, std::nullopt, std::move(children));
}

View ZStack(Alignment alignment, std::vector<View> children) {
    auto node = make(NodeKind::zstack, std::move(children));
    node->alignment = alignment;
    return View(node);
}

View ScrollView(View content, bool horizontal, bool showsIndicators) {
    auto node = make(NodeKind::scroll, {std::move(content)});
    node->horizontalScroll = horizontal;
    node->showsIndicators = showsIndicators;
    return View(node);
}

View Form(std::vector<View> children) {
    return View(make(NodeKind::form, std::move(children)));
}

View Section(std::optional<View> header, std::vector<View> children, std::optional<View> footer) {
    auto node = make(NodeKind::section, std::move(children));
    node->header = std::move(header);
    node->footer = std::move(footer);
    return View(node);
}

View TabView(Binding<std::string> selection, std::vector<TabItem> tabs, std::vector<View> pages) {
    auto node = make(NodeKind::tabView, std::move(pages));
    node->textBinding = std::move(selection);
    node->tabs = std::move(tabs);
    return View(node);
}

View List(std::vector<View> rows) {
    return View(make(NodeKind::list, std::move(rows)));
}

View List(Binding<std::string> selection, std::vector<View> rows) {
    auto node = make(NodeKind::list, std::move(rows));
    node->textBinding = std::move(selection);
    return View(node);
}

View SplitView(View sidebar, View detail, ColumnWidth sidebarWidth) {
    auto node = make(NodeKind::splitView, {std::move(sidebar), std::move(detail)});
    node->sidebarWidth = sidebarWidth;
    return View(node);
}

View Divider() {
    return View(make(NodeKind::divider));
}

View Spacer(std::optional<double> minLength) {
    auto node = make(NodeKind::spacer);
    node->spacing = minLength;
    return View(node);
}

View Text(std::string key) {
    auto node = make(NodeKind::text);
    node->text = std::move(key);
    return View(node);
}

View TextVerbatim(std::string text) {
    auto node = make(NodeKind::text);
    node->text = std::move(text);
    node->verbatim = true;
    return View(node);
}

View TextMarkdown(std::string words) {
    auto node = make(NodeKind::text);
    node->text = std::move(words);
    node->wordsGiven = true;
    return View(node);
}

std::string rawText(const Node& node) {
    return node.verbatim || node.wordsGiven ? node.text : localized(node.text);
}

std::string accessibilityLabelOf(const Node& node) {
    if (!node.accessibilityLabel) {
        return {};
    }
    return node.accessibilityLabelVerbatim ? *node.accessibilityLabel
                                           : localized(*node.accessibilityLabel);
}

std::string accessibilityValueOf(const Node& node) {
    if (!node.accessibilityValue) {
        return {};
    }
    return node.accessibilityValueVerbatim ? *node.accessibilityValue
                                           : localized(*node.accessibilityValue);
}

View Label(std::string titleKey, std::string systemImage) {
    auto node = make(NodeKind::label);
    node->text = std::move(titleKey);
    node->systemImage = std::move(systemImage);
    return View(node);
}

View Image(std::string systemName, double rotationDegrees) {
    auto node = make(NodeKind::image);
    node->systemImage = std::move(systemName);
    node->rotationDegrees = rotationDegrees;
    return View(node);
}

View ApplicationIcon(std::string iconName, std::string iconFile) {
    auto node = make(NodeKind::image);
    node->systemImage = "app";
    node->iconName = std::move(iconName);
    node->iconFile = std::move(iconFile);
    return View(node);
}

View ShapeFill(Shape shape, Color color) {
    auto node = make(NodeKind::shape);
    node->shape = shape;
    node->fill = color;
    return View(node);
}

View ShapeStroke(Shape shape, Color color, double lineWidth) {
    auto node = make(NodeKind::shape);
    node->shape = shape;
    node->stroke = Stroke{color, lineWidth, shape};
    return View(node);
}

View Button(std::string titleKey, std::function<void()> action, ButtonRole role) {
    return Button(Text(std::move(titleKey)), std::move(action), role);
}

View Button(View label, std::function<void()> action, ButtonRole role) {
    auto node = make(NodeKind::button, {std::move(label)});
    node->action = std::move(action);
    node->role = role;
    return View(node);
}

View Toggle(std::string titleKey, Binding<bool> isOn) {
    return Toggle(Text(std::move(titleKey)), std::move(isOn));
}

View Toggle(View label, Binding<bool> isOn) {
    auto node = make(NodeKind::toggle, {std::move(label)});
    node->boolBinding = std::move(isOn);
    return View(node);
}

View Picker(std::string titleKey, Binding<std::string> selection, std::vector<View> options) {
    auto node = make(NodeKind::picker, std::move(options));
    node->text = std::move(titleKey);
    node->textBinding = std::move(selection);
    return View(node);
}

View Menu(std::string titleKey, std::vector<MenuItem> items) {
    return Menu(Text(std::move(titleKey)), std::move(items));
}

View Menu(View label, std::vector<MenuItem> items) {
    auto node = make(NodeKind::menu, {std::move(label)});
    node->menuItems = std::move(items);
    return View(node);
}

View MenuOnOpen(View label, std::function<std::vector<MenuItem>()> items) {
    auto node = make(NodeKind::menu, {std::move(label)});
    node->menuContent = std::move(items);
    return View(node);
}

View TextField(std::string placeholderKey, Binding<std::string> text,
               std::function<void()> onSubmit) {
    auto node = make(NodeKind::textField);
    node->text = std::move(placeholderKey);
    node->textBinding = std::move(text);
    node->onSubmit = std::move(onSubmit);
    return View(node);
}

View IntegerField(std::string placeholderKey, Binding<std::int64_t> value) {
    auto node = make(NodeKind::textField);
    node->text = std::move(placeholderKey);
    node->integerBinding = std::move(value);
    node->isInteger = true;
    return View(node);
}

View SecureField(std::string placeholderKey, Binding<std::string> text,
                 std::function<void()> onSubmit) {
    View field = TextField(std::move(placeholderKey), std::move(text), std::move(onSubmit));
    auto node = std::make_shared<Node>(field.node());
    node->secure = true;
    return View(node);
}

View SearchField(std::string promptKey, Binding<std::string> text, std::function<void()> onSubmit) {
    auto node = make(NodeKind::searchField);
    node->text = std::move(promptKey);
    node->textBinding = std::move(text);
    node->onSubmit = std::move(onSubmit);
    return View(node);
}

View Stepper(View label, Binding<double> value, double minimum, double maximum, double step) {
    auto node = make(NodeKind::stepper, {std::move(label)});
    node->numberBinding = std::move(value);
    // An empty range (a stored value beyond what the controls allow) collapses to its upper end.
    node->minimum = std::min(minimum, maximum);
    node->maximum = maximum;
    node->step = step;
    return View(node);
}

View DatePicker(std::string titleKey, Binding<Date> selection, unsigned components) {
    auto node = make(NodeKind::datePicker);
    node->text = std::move(titleKey);
    node->dateBinding = std::move(selection);
    node->dateComponents = components;
    return View(node);
}

View LabeledContent(std::string labelKey, View value) {
    auto node = make(NodeKind::labeledContent, {std::move(value)});
    node->text = std::move(labelKey);
    return View(node);
}

View ProgressView(std::optional<double> fraction) {
    auto node = make(NodeKind::progress);
    node->progress = fraction;
    return View(node);
}

View Embed(std::shared_ptr<ViewComponent> component) {
    auto node = make(NodeKind::component);
    node->component = std::move(component);
    return View(node);
}

Binding<std::string> intTagBinding(Binding<std::int64_t> value) {
    return Binding<std::string>{[value] { return std::to_string(value.get()); },
                                [value](const std::string& tag) {
                                    char* end = nullptr;
                                    const long long parsed = std::strtoll(tag.c_str(), &end, 10);
                                    if (end != tag.c_str() && *end == '\0') {
                                        value.set(parsed);
                                    }
                                }};
}

Binding<std::string> boolTagBinding(Binding<bool> value) {
    return Binding<std::string>{[value] { return std::string(value.get() ? "true" : "false"); },
                                [value](const std::string& tag) { value.set(tag == "true"); }};
}

}  // namespace orvel::ui
