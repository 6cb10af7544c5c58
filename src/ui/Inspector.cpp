#include "ui/Inspector.h"

#include <cstdio>
#include <functional>
#include <sstream>

#include "foundation/Localization.h"
#include "foundation/NumberFormatting.h"
#include "ui/Host.h"
#include "ui/Markdown.h"

namespace orvel::ui {

namespace {

using Found = Inspector::Found;
using Visitor = std::function<bool(const Node&, const std::vector<const Node*>&)>;

// Visits shown nodes depth-first; stops when the visitor returns true.
bool walk(const View& view, std::vector<const Node*>& ancestors, const Visitor& visit) {
    const Node& node = view.node();
    if (visit(node, ancestors)) {
        return true;
    }
    std::optional<std::string> selectedTab;
    if (node.kind == NodeKind::tabView && node.textBinding.get) {
        selectedTab = node.textBinding.get();
    }
    ancestors.push_back(&node);
    bool stop = false;
    if (node.header) {
        stop = walk(*node.header, ancestors, visit);
    }
    for (std::size_t i = 0; !stop && i < node.children.size(); ++i) {
        if (selectedTab && (i >= node.tabs.size() || node.tabs[i].tag != *selectedTab)) {
            continue;
        }
        stop = walk(node.children[i], ancestors, visit);
    }
    if (!stop && node.footer) {
        stop = walk(*node.footer, ancestors, visit);
    }
    ancestors.pop_back();
    return stop;
}

std::string shownText(const Node& node) {
    const std::string raw = rawText(node);
    return node.verbatim ? raw : plainText(parseInlineMarkdown(raw));
}

// The node's own text, as a user reads it.
std::optional<std::string> ownText(const Node& node) {
    switch (node.kind) {
        case NodeKind::text:
        case NodeKind::label:
        case NodeKind::labeledContent:
            return shownText(node);
        case NodeKind::searchField:
            return node.textBinding.get ? node.textBinding.get() : std::string();
        case NodeKind::textField:
            if (node.isInteger && node.integerBinding.get) {
                return integerText(node.integerBinding.get());
            }
            if (node.textBinding.get) {
                return node.textBinding.get();
            }
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

bool isControl(const Node& node) {
    switch (node.kind) {
        case NodeKind::button:
        case NodeKind::toggle:
        case NodeKind::picker:
        case NodeKind::menu:
        case NodeKind::textField:
        case NodeKind::searchField:
        case NodeKind::stepper:
        case NodeKind::datePicker:
        case NodeKind::tabView:
            return true;
        default:
            return static_cast<bool>(node.onTap);
    }
}

bool controlMatches(const Node& node, std::string_view text) {
    if (node.accessibilityLabel && accessibilityLabelOf(node) == text) {
        return true;
    }
    if (node.kind == NodeKind::tabView) {
        for (const auto& tab : node.tabs) {
            if (localized(tab.title) == text) {
                return true;
            }
        }
        return false;  // its pages hold other controls
    }
    if ((node.kind == NodeKind::picker || node.kind == NodeKind::textField ||
         node.kind == NodeKind::searchField || node.kind == NodeKind::datePicker) &&
        localized(node.text) == text) {
        return true;
    }
    const std::string inner = Inspector::textsOf(node);
    if (inner == text) {
        return true;
    }
    bool any = false;
    std::vector<const Node*> ancestors;
    for (const auto& child : node.children) {
        walk(child, ancestors, [&](const Node& n, const auto&) {
            auto own = ownText(n);
            any = any || (own && *own == text);
            return any;
        });
    }
    return any;
}

bool isTextInput(const Node& node) {
    return node.kind == NodeKind::textField || node.kind == NodeKind::searchField;
}

bool selects(const Node& node) {
    return node.kind == NodeKind::list && static_cast<bool>(node.textBinding.get);
}

// A list's rows, through the groups that lists of rows come in.
void collectRows(const std::vector<View>& views, std::vector<const Node*>& out) {
    for (const auto& view : views) {
        const Node& n = view.node();
        if (n.kind == NodeKind::group) {
            collectRows(n.children, out);
        } else if (n.kind != NodeKind::empty) {
            out.push_back(&n);
        }
    }
}

std::vector<const Node*> rowsOf(const Node& list) {
    std::vector<const Node*> rows;
    collectRows(list.children, rows);
    return rows;
}

const char* weightName(FontWeight weight) {
    static const char* names[] = {"ultraLight", "thin", "light", "regular", "medium",
                                  "semibold",   "bold", "heavy", "black"};
    return names[static_cast<int>(weight)];
}

std::string colorText(const Color& color) {
    std::string out;
    if (const auto* rgba = std::get_if<RGBA>(&color.light)) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "rgb(%.2f,%.2f,%.2f)", rgba->r, rgba->g, rgba->b);
        out = buffer;
        if (color.dark) {
            std::snprintf(buffer, sizeof buffer, "/dark(%.2f,%.2f,%.2f)", color.dark->r,
                          color.dark->g, color.dark->b);
            out += buffer;
        }
    } else {
        static const char* names[] = {"accent",  "primary",   "secondary", "tertiary", "window",
                                      "control", "separator", "red",       "orange",   "yellow",
                                      "green",   "blue",      "purple",    "gray",     "black",
                                      "white",   "clear"};
        out = names[static_cast<int>(std::get<NamedColor>(color.light))];
    }
    if (color.opacity != 1.0) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "@%.2f", color.opacity);
        out += buffer;
    }
    return out;
}

std::string styleText(const ForegroundStyle& style) {
    if (const auto* level = std::get_if<Hierarchy>(&style)) {
        static const char* names[] = {"primary", "secondary", "tertiary", "quaternary"};
        return names[static_cast<int>(*level)];
    }
    return colorText(std::get<Color>(style));
}

std::string formatDouble(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

}  // namespace

std::string Inspector::textsOf(const Node& node) {
    std::string out;
    std::vector<const Node*> ancestors;
    walk(View(std::make_shared<Node>(node)), ancestors, [&](const Node& n, const auto&) {
        if (auto own = ownText(n); own && !isTextInput(n)) {
            if (!out.empty())
                out += ' ';
            out += *own;
        }
        return false;
    });
    return out;
}

bool Inspector::fail(std::string why) {
    failure_ = std::move(why);
    return false;
}

std::optional<Found> Inspector::find(std::string_view text) const {
    std::optional<Found> result;
    std::vector<const Node*> ancestors;
    walk(host_->tree(), ancestors, [&](const Node& node, const auto& path) {
        auto own = ownText(node);
        const bool byLabel = node.accessibilityLabel && accessibilityLabelOf(node) == text;
        if ((own && *own == text) || byLabel) {
            result = Found{&node, path};
            return true;
        }
        return false;
    });
    return result;
}

std::optional<Found> Inspector::control(std::string_view text) const {
    std::optional<Found> result;
    std::vector<const Node*> ancestors;
    walk(host_->tree(), ancestors, [&](const Node& node, const auto& path) {
        if (isControl(node) && controlMatches(node, text)) {
            result = Found{&node, path};
            return true;
        }
        return false;
    });
    return result;
}

std::vector<std::string> Inspector::texts() const {
    std::vector<std::string> out;
    std::vector<const Node*> ancestors;
    walk(host_->tree(), ancestors, [&](const Node& node, const auto&) {
        if (node.kind == NodeKind::text || node.kind == NodeKind::label ||
            node.kind == NodeKind::labeledContent) {
            out.push_back(shownText(node));
        }
        return false;
    });
    return out;
}

bool Inspector::isEnabled(const Found& found) const {
    if (found.node->disabled) {
        return false;
    }
    for (const Node* ancestor : found.ancestors) {
        if (ancestor->disabled) {
            return false;
        }
    }
    return true;
}

double Inspector::opacity(const Found& found) const {
    double value = found.node->opacity;
    for (const Node* ancestor : found.ancestors) {
        value *= ancestor->opacity;
    }
    return value;
}

std::optional<Found> Inspector::enabledControl(std::string_view text, NodeKind kind) {
    auto found = control(text);
    if (!found) {
        fail("nothing to work is shown as \"" + std::string(text) + "\"");
        return std::nullopt;
    }
    if (kind != NodeKind::empty && found->node->kind != kind) {
        fail("\"" + std::string(text) + "\" is a " + nodeKindName(found->node->kind) + ", not a " +
             nodeKindName(kind));
        return std::nullopt;
    }
    if (!isEnabled(*found)) {
        fail("\"" + std::string(text) + "\" is disabled");
        return std::nullopt;
    }
    return found;
}

bool Inspector::click(std::string_view text) {
    auto found = enabledControl(text, NodeKind::empty);
    if (!found) {
        return false;
    }
    const Node& node = *found->node;
    if (node.kind == NodeKind::button && node.action) {
        auto action = node.action;  // the action may re-evaluate the tree
        action();
        return true;
    }
    if (node.onTap) {
        auto action = node.onTap;
        action();
        return true;
    }
    return fail("\"" + std::string(text) + "\" cannot be clicked");
}

bool Inspector::clickLink(std::string_view target) {
    std::optional<Found> found;
    std::string url;
    std::vector<const Node*> ancestors;
    walk(host_->tree(), ancestors, [&](const Node& node, const auto& path) {
        // Verbatim text is never read as Markdown, so it has no links.
        if (node.kind != NodeKind::text || node.verbatim) {
            return false;
        }
        for (const TextRun& run : parseInlineMarkdown(rawText(node))) {
            if (!run.link.empty() && (run.link == target || run.text == target)) {
                found = Found{&node, path};
                url = run.link;
                return true;
            }
        }
        return false;
    });
    if (!found) {
        return fail("no shown text links to \"" + std::string(target) + "\"");
    }
    if (!isEnabled(*found)) {
        return fail("the link \"" + std::string(target) + "\" is disabled");
    }
    if (auto opened = UiHost::current().openLink(url); !opened) {
        return fail(url + " could not be opened: " + opened.error().message);
    }
    return true;
}

bool Inspector::setToggle(std::string_view label, bool on) {
    auto found = enabledControl(label, NodeKind::toggle);
    if (!found) {
        return false;
    }
    auto binding = found->node->boolBinding;
    binding.set(on);
    return true;
}

std::optional<bool> Inspector::toggleValue(std::string_view label) const {
    auto found = control(label);
    if (!found || found->node->kind != NodeKind::toggle) {
        return std::nullopt;
    }
    return found->node->boolBinding.get();
}

bool Inspector::pick(std::string_view label, const std::string& tag) {
    auto found = enabledControl(label, NodeKind::empty);
    if (!found) {
        return false;
    }
    const Node& node = *found->node;
    if (node.kind == NodeKind::tabView) {
        for (const auto& tab : node.tabs) {
            if (tab.tag == tag) {
                auto binding = node.textBinding;
                binding.set(tag);
                return true;
            }
        }
        return fail("no tab \"" + tag + "\"");
    }
    if (node.kind != NodeKind::picker) {
        return fail("\"" + std::string(label) + "\" is not a picker");
    }
    for (const auto& option : node.children) {
        if (option.node().tag == tag) {
            if (option.node().disabled) {
                return fail("option \"" + tag + "\" is disabled");
            }
            auto binding = node.textBinding;
            binding.set(tag);
            return true;
        }
    }
    return fail("picker \"" + std::string(label) + "\" has no option \"" + tag + "\"");
}

std::optional<std::string> Inspector::selection(std::string_view label) const {
    auto found = control(label);
    if (!found || !found->node->textBinding.get) {
        return std::nullopt;
    }
    return found->node->textBinding.get();
}

bool Inspector::chooseMenuItem(std::string_view menuLabel, std::string_view itemTitle) {
    auto found = enabledControl(menuLabel, NodeKind::menu);
    if (!found) {
        return false;
    }
    const Node& menu = *found->node;
    const std::vector<MenuItem> items = menu.menuContent ? menu.menuContent() : menu.menuItems;
    for (const auto& item : items) {
        if (!item.separator && (item.verbatim ? item.title : localized(item.title)) == itemTitle) {
            if (item.disabled) {
                return fail("menu item \"" + std::string(itemTitle) + "\" is disabled");
            }
            auto action = item.action;
            if (action) {
                action();
            }
            return true;
        }
    }
    return fail("menu \"" + std::string(menuLabel) + "\" has no item \"" + std::string(itemTitle) +
                "\"");
}

std::optional<std::vector<std::string>> Inspector::openMenu(std::string_view menuLabel) {
    auto found = enabledControl(menuLabel, NodeKind::menu);
    if (!found) {
        return std::nullopt;
    }
    const Node& menu = *found->node;
    std::vector<std::string> titles;
    for (const auto& item : menu.menuContent ? menu.menuContent() : menu.menuItems) {
        if (!item.separator) {
            titles.push_back(item.verbatim ? item.title : localized(item.title));
        }
    }
    return titles;
}

bool Inspector::type(std::string_view label, std::string_view text) {
    auto found = enabledControl(label, NodeKind::empty);
    if (!found) {
        return false;
    }
    if (!isTextInput(*found->node)) {
        return fail("\"" + std::string(label) + "\" is not a text field");
    }
    const Node& node = *found->node;
    if (node.isInteger) {
        if (const auto value = parseInteger(text)) {
            auto binding = node.integerBinding;
            binding.set(*value);
        }
        return true;
    }
    auto binding = node.textBinding;
    std::string typed = binding.get ? binding.get() : std::string();
    for (char c : text) {
        typed.push_back(c);
        binding.set(typed);
    }
    return true;
}

bool Inspector::submit(std::string_view label) {
    auto found = enabledControl(label, NodeKind::empty);
    if (!found) {
        return false;
    }
    if (!isTextInput(*found->node)) {
        return fail("\"" + std::string(label) + "\" is not a text field");
    }
    if (auto action = found->node->onSubmit) {
        action();
    }
    return true;
}

bool Inspector::leaveField(std::string_view label) {
    auto found = enabledControl(label, NodeKind::textField);
    if (!found) {
        return false;
    }
    if (auto action = found->node->onFocusLost) {
        action();
    }
    return true;
}

bool Inspector::clearText(std::string_view label) {
    auto found = enabledControl(label, NodeKind::empty);
    if (!found) {
        return false;
    }
    if (!isTextInput(*found->node) || found->node->isInteger) {
        return fail("\"" + std::string(label) + "\" is not a text field");
    }
    auto binding = found->node->textBinding;
    binding.set(std::string());
    return true;
}

bool Inspector::selectRow(std::string_view text) {
    const Node* list = nullptr;
    const Node* row = nullptr;
    std::vector<const Node*> ancestors;
    walk(host_->tree(), ancestors, [&](const Node& node, const auto&) {
        if (!selects(node)) {
            return false;
        }
        for (const Node* candidate : rowsOf(node)) {
            if (textsOf(*candidate) == text) {
                list = &node;
                row = candidate;
                return true;
            }
        }
        return false;
    });
    if (row == nullptr) {
        return fail("no list row reads \"" + std::string(text) + "\"");
    }
    if (!row->tag) {
        return fail("row \"" + std::string(text) + "\" has no tag");
    }
    if (row->disabled || list->disabled) {
        return fail("row \"" + std::string(text) + "\" is disabled");
    }
    auto binding = list->textBinding;
    binding.set(*row->tag);
    return true;
}

std::optional<std::string> Inspector::selectedRow() const {
    std::optional<std::string> result;
    std::vector<const Node*> ancestors;
    walk(host_->tree(), ancestors, [&](const Node& node, const auto&) {
        if (!selects(node)) {
            return false;
        }
        const std::string selected = node.textBinding.get();
        for (const Node* row : rowsOf(node)) {
            if (row->tag == selected) {
                result = textsOf(*row);
                break;
            }
        }
        return true;
    });
    return result;
}

std::vector<std::string> Inspector::listRows() const {
    std::vector<std::string> result;
    std::vector<const Node*> ancestors;
    walk(host_->tree(), ancestors, [&](const Node& node, const auto&) {
        if (node.kind != NodeKind::list) {
            return false;
        }
        for (const Node* row : rowsOf(node)) {
            result.push_back(textsOf(*row));
        }
        return true;
    });
    return result;
}

bool Inspector::scrollToEnd(std::string_view text) {
    std::function<void()> action;
    bool matched = text.empty();
    std::vector<const Node*> ancestors;
    walk(host_->tree(), ancestors, [&](const Node& node, const auto&) {
        if (node.kind == NodeKind::scroll) {
            if (!matched) {
                const std::string inner = textsOf(node);
                if (inner.find(text) == std::string::npos) {
                    return false;
                }
            }
            action = node.onScrolledToEnd;
            matched = true;
            return true;
        }
        return false;
    });
    if (!matched) {
        return fail("no scroll view holds \"" + std::string(text) + "\"");
    }
    if (action) {
        action();
    }
    return true;
}

std::string Inspector::dump() const {
    std::ostringstream out;
    std::function<void(const View&, int)> line = [&](const View& view, int depth) {
        const Node& n = view.node();
        out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << nodeKindName(n.kind);
        if (n.id)
            out << " id=" << *n.id;
        if (n.tag)
            out << " tag=" << *n.tag;
        if (auto own = ownText(n))
            out << " \"" << *own << "\"";
        if (!n.systemImage.empty())
            out << " symbol=" << n.systemImage;
        if (n.kind == NodeKind::picker || n.kind == NodeKind::datePicker) {
            out << " \"" << localized(n.text) << "\"";
        }
        if (n.textBinding.get && !isTextInput(n)) {
            out << " selection=" << n.textBinding.get();
        }
        if (n.kind == NodeKind::toggle && n.boolBinding.get) {
            out << (n.boolBinding.get() ? " on" : " off");
        }
        if (n.kind == NodeKind::vstack || n.kind == NodeKind::hstack) {
            if (n.spacing)
                out << " spacing=" << formatDouble(*n.spacing);
        }
        if (n.kind == NodeKind::splitView) {
            out << " sidebar=" << formatDouble(n.sidebarWidth.min) << "/"
                << formatDouble(n.sidebarWidth.ideal) << "/" << formatDouble(n.sidebarWidth.max);
        }
        if (n.kind == NodeKind::padding) {
            out << " " << formatDouble(n.insets.top) << "," << formatDouble(n.insets.leading) << ","
                << formatDouble(n.insets.bottom) << "," << formatDouble(n.insets.trailing);
        }
        if (n.kind == NodeKind::frame) {
            const Frame& f = n.frameValue;
            if (f.width)
                out << " width=" << formatDouble(*f.width);
            if (f.height)
                out << " height=" << formatDouble(*f.height);
            if (f.minWidth)
                out << " minWidth=" << formatDouble(*f.minWidth);
            if (f.minHeight)
                out << " minHeight=" << formatDouble(*f.minHeight);
            if (f.maxWidth)
                out << " maxWidth=" << formatDouble(*f.maxWidth);
            if (f.maxHeight)
                out << " maxHeight=" << formatDouble(*f.maxHeight);
        }
        if (n.font) {
            out << " font=" << formatDouble(n.font->size);
            if (n.font->monospaced)
                out << "/mono";
        }
        if (n.font && n.font->weight)
            out << " " << weightName(*n.font->weight);
        if (n.fontWeight)
            out << " imposed=" << weightName(*n.fontWeight);
        if (n.foreground)
            out << " fg=" << styleText(*n.foreground);
        if (n.rotationDegrees != 0)
            out << " rotated=" << formatDouble(n.rotationDegrees);
        if (n.fill)
            out << " fill=" << colorText(*n.fill);
        if (n.stroke)
            out << " stroke=" << colorText(n.stroke->color);
        if (n.kind == NodeKind::background) {
            if (const auto* color = std::get_if<Color>(&n.backgroundValue.fill)) {
                out << " " << colorText(*color);
            } else {
                out << " material";
            }
            if (n.backgroundValue.shape.kind == ShapeKind::roundedRectangle) {
                out << " radius=" << formatDouble(n.backgroundValue.shape.cornerRadius);
            }
        }
        if (n.kind == NodeKind::overlay)
            out << " " << colorText(n.overlayValue.color);
        if (n.kind == NodeKind::progress) {
            out << (n.progress ? " value=" + formatDouble(*n.progress) : " indeterminate");
        }
        if (n.kind == NodeKind::button && n.role == ButtonRole::destructive)
            out << " destructive";
        if (n.buttonStyle) {
            if (const auto* row = std::get_if<MenuRowStyle>(&*n.buttonStyle)) {
                out << " row(indent " << formatDouble(row->indent) << ")";
            } else {
                static const char* names[] = {"automatic", "bordered",   "prominent",
                                              "plain",     "borderless", "link"};
                out << " style="
                    << names[static_cast<int>(std::get<StandardButtonStyle>(*n.buttonStyle))];
            }
        }
        if (n.toggleStyle == ToggleStyle::checkbox)
            out << " checkbox";
        if (n.toggleStyle == ToggleStyle::switchStyle)
            out << " switch";
        if (n.pickerStyle) {
            static const char* names[] = {"automatic", "menu", "segmented", "radio", "inline"};
            out << " " << names[static_cast<int>(*n.pickerStyle)];
        }
        if (n.controlSize) {
            static const char* names[] = {"mini", "small", "regular", "large"};
            out << " size=" << names[static_cast<int>(*n.controlSize)];
        }
        if (n.shortcut)
            out << " key=" << n.shortcut->key;
        if (n.secure)
            out << " secure";
        if (n.textSelection)
            out << " selectable";
        if (n.lineLimit)
            out << " lines=" << *n.lineLimit;
        if (n.lineSpacing)
            out << " lineSpacing=" << formatDouble(*n.lineSpacing);
        if (n.opacity != 1.0)
            out << " opacity=" << formatDouble(n.opacity);
        if (n.disabled)
            out << " disabled";
        if (n.accessibilityLabel)
            out << " ax=\"" << *n.accessibilityLabel << "\"";
        if (n.help)
            out << " help=\"" << *n.help << "\"";
        for (const auto& item : n.menuItems) {
            out << (item.separator ? " [—]" : " [" + item.title + "]");
        }
        if (n.menuContent)
            out << " [made on opening]";
        out << "\n";
        if (n.header)
            line(*n.header, depth + 1);
        for (const auto& child : n.children) {
            line(child, depth + 1);
        }
        if (n.footer)
            line(*n.footer, depth + 1);
    };
    line(host_->tree(), 0);
    return out.str();
}

}  // namespace orvel::ui
