#include "ui/qt/QtRenderer.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStackedWidget>
#include <QStandardItemModel>

#include <cmath>
#include <cstdlib>
#include <unordered_map>

#include "foundation/Localization.h"
#include "ui/Markdown.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/BoxWidget.h"
#include "ui/qt/KeySequence.h"
#include "ui/qt/OverlayLayout.h"
#include "ui/qt/SegmentedControl.h"
#include "ui/qt/SeparatorLine.h"
#include "ui/qt/ShapeWidget.h"
#include "ui/qt/Spinner.h"
#include "ui/qt/StepperArrows.h"
#include "ui/qt/SwitchWidget.h"
#include "ui/qt/SymbolSet.h"
#include "ui/qt/SymbolWidget.h"
#include "ui/qt/TextLabel.h"
#include "ui/qt/ViewButton.h"

namespace orvel::ui {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

enum class Axis { vertical, horizontal, none };

// Where a node sits: in a stack, as a row of a section or list, or on its own.
enum class Role { plain, sectionRow, listRow };

// What a node inherits from its ancestors.
struct Env {
    Font font = Font::system(13);
    std::optional<FontWeight> imposedWeight;
    ForegroundStyle foreground = Hierarchy::primary;
    std::optional<QColor> forcedForeground;  // a pressed menu row: everything in white
    ButtonStyle buttonStyle = StandardButtonStyle::automatic;
    ToggleStyle toggleStyle = ToggleStyle::automatic;
    PickerStyle pickerStyle = PickerStyle::automatic;
    ControlSize controlSize = ControlSize::regular;
    bool labelsHidden = false;
    bool textSelection = false;
    TextAlignment multiline = TextAlignment::leading;
    std::optional<int> lineLimit;
    double opacity = 1;
    bool disabled = false;
    bool inButton = false;   // label content of a button: lets the mouse through to it
    bool uppercase = false;  // section headers
    bool inFormRow = false;  // a control whose label the row shows on its left

    Env applying(const Node& n) const {
        Env e = *this;
        if (n.font)
            e.font = *n.font;
        if (n.fontWeight)
            e.imposedWeight = n.fontWeight;
        if (n.foreground)
            e.foreground = *n.foreground;
        if (n.buttonStyle)
            e.buttonStyle = *n.buttonStyle;
        if (n.toggleStyle)
            e.toggleStyle = *n.toggleStyle;
        if (n.pickerStyle)
            e.pickerStyle = *n.pickerStyle;
        if (n.controlSize)
            e.controlSize = *n.controlSize;
        if (n.labelsHidden)
            e.labelsHidden = *n.labelsHidden;
        if (n.textSelection)
            e.textSelection = true;
        if (n.multilineAlignment)
            e.multiline = *n.multilineAlignment;
        if (n.lineLimit)
            e.lineLimit = n.lineLimit;
        e.opacity *= n.opacity;
        e.disabled = e.disabled || n.disabled;
        return e;
    }
};

struct Flex {
    bool h = false, v = false;
};

bool isWrapper(NodeKind kind) {
    switch (kind) {
        case NodeKind::padding:
        case NodeKind::frame:
        case NodeKind::fixedSize:
        case NodeKind::background:
        case NodeKind::overlay:
            return true;
        default:
            return false;
    }
}

bool isLabelled(NodeKind kind) {
    switch (kind) {
        case NodeKind::toggle:
        case NodeKind::picker:
        case NodeKind::textField:
        case NodeKind::stepper:
        case NodeKind::datePicker:
        case NodeKind::labeledContent:
            return true;
        default:
            return false;
    }
}

// Containers paint their opacity themselves or hand it down; the rest take an effect.
bool passesOpacityDown(NodeKind kind) {
    switch (kind) {
        case NodeKind::vstack:
        case NodeKind::hstack:
        case NodeKind::zstack:
        case NodeKind::scroll:
        case NodeKind::form:
        case NodeKind::section:
        case NodeKind::list:
        case NodeKind::tabView:
        case NodeKind::image:
        case NodeKind::shape:
        case NodeKind::spacer:
            return true;
        default:
            return isWrapper(kind);
    }
}

std::string shownText(const Node& n) {
    return n.verbatim ? n.text : localized(n.text);
}

// The texts inside a node as a user reads them, joined by spaces (a control's name).
void collectText(const Node& n, std::string& out) {
    if (n.kind == NodeKind::text || n.kind == NodeKind::label ||
        n.kind == NodeKind::labeledContent) {
        const std::string raw = shownText(n);
        const std::string plain = n.verbatim ? raw : plainText(parseInlineMarkdown(raw));
        if (!plain.empty()) {
            if (!out.empty())
                out += ' ';
            out += plain;
        }
    }
    for (const View& child : n.children) {
        collectText(child.node(), out);
    }
}

QString textOf(const Node& n) {
    std::string out;
    collectText(n, out);
    return QString::fromStdString(out);
}

QString htmlOf(const std::vector<TextRun>& runs, const QFont& font, const QColor& link) {
    QString html;
    for (const TextRun& run : runs) {
        QString piece = qs(run.text).toHtmlEscaped().replace('\n', "<br>");
        if (run.code) {
            piece = QStringLiteral(
                        "<span style=\"font-family:'DejaVu Sans Mono',monospace;"
                        "font-size:%1px\">%2</span>")
                        .arg(std::max(1, font.pixelSize()))
                        .arg(piece);
        }
        if (run.bold)
            piece = "<b>" + piece + "</b>";
        if (run.italic)
            piece = "<i>" + piece + "</i>";
        if (!run.link.empty()) {
            piece = QStringLiteral("<a href=\"%1\" style=\"color:%2;text-decoration:none\">%3</a>")
                        .arg(qs(run.link).toHtmlEscaped(), link.name(), piece);
        }
        html += piece;
    }
    return html;
}

bool plainRuns(const std::vector<TextRun>& runs) {
    for (const TextRun& run : runs) {
        if (run.bold || run.italic || run.code || !run.link.empty()) {
            return false;
        }
    }
    return true;
}

Qt::Alignment hFlag(HAlign a) {
    return a == HAlign::leading    ? Qt::AlignLeft
           : a == HAlign::trailing ? Qt::AlignRight
                                   : Qt::AlignHCenter;
}

Qt::Alignment vFlag(VAlign a) {
    return a == VAlign::top      ? Qt::AlignTop
           : a == VAlign::bottom ? Qt::AlignBottom
                                 : Qt::AlignVCenter;
}

Qt::Alignment textFlag(TextAlignment a) {
    return a == TextAlignment::center     ? Qt::AlignHCenter
           : a == TextAlignment::trailing ? Qt::AlignRight
                                          : Qt::AlignLeft;
}

void clearLayout(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item;
    }
}

// Calls a node's tap action on a click released inside its view.
class TapFilter final : public QObject {
  public:
    TapFilter(QObject* parent, std::function<void()> onTap)
        : QObject(parent), onTap_(std::move(onTap)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease) {
            auto* widget = static_cast<QWidget*>(watched);
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (widget->isEnabled() && widget->rect().contains(mouse->position().toPoint())) {
                auto action = onTap_;
                action();
                return true;
            }
        }
        return false;
    }

  private:
    std::function<void()> onTap_;
};

// Redraws when the desktop's palette changes (light to dark): colours are resolved when
// rendering, so a change of appearance needs one more pass.
class AppearanceWatcher final : public QObject {
  public:
    AppearanceWatcher(QObject* parent, std::function<void()> onChange)
        : QObject(parent), onChange_(std::move(onChange)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Only the container's own palette: the renderer sets its labels' palettes itself.
        const QEvent::Type type = event->type();
        if ((type == QEvent::ApplicationPaletteChange || type == QEvent::PaletteChange) &&
            watched == parent() && !posted_) {
            posted_ = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    posted_ = false;
                    onChange_();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

  private:
    std::function<void()> onChange_;
    bool posted_ = false;
};

}  // namespace

// One rendered node: its widgets, its rendered children, and what it last showed.
struct RNode {
    std::string key;
    NodeKind kind = NodeKind::empty;
    View view;
    Env env;
    QWidget* widget = nullptr;   // the node's own widget
    QWidget* outer = nullptr;    // a row around it, placed instead of it
    QWidget* control = nullptr;  // the working part of a labelled control
    std::vector<std::shared_ptr<RNode>> children;
    std::shared_ptr<RNode> rowLabel;  // a form row's label, shown on the left
    std::shared_ptr<RNode> inner;     // a labelled value, a toggle button's title, a header
    std::vector<QWidget*> placed;     // what the node's layout holds now, in order
    std::vector<Qt::Alignment> placedFlags;
    std::vector<QWidget*> extras;  // separators and indicators the node owns
    std::vector<QShortcut*> shortcuts;
    std::optional<KeyboardShortcut> shortcutSpec;
    QMenu* menu = nullptr;
    std::vector<std::string> signature;  // items of pickers and menus, to rebuild only on change
    std::vector<std::string> tags;
    bool updating = false;  // writes to widgets from the tree, not from the user
    bool dirty = false;     // an integer field holds uncommitted text
    bool atEnd = false;
    bool tapInstalled = false;
    bool rowLabelled = false;
    std::function<void()> restyle;  // re-applies the look after a press
    std::string lastRaw;            // a text's source, to skip parsing when it is unchanged
    QColor lastLink;
    QString lastShown;

    // Callbacks of widgets hold this weakly: a node that is gone may leave a widget behind
    // until Qt deletes it, and that widget's signals must not reach the node.
    std::shared_ptr<char> token = std::make_shared<char>();

    QWidget* placedWidget() const { return outer ? outer : widget; }
    const Node& node() const { return view.node(); }
};

struct QtRenderer::Impl {
    ViewHost& host;
    QWidget& container;
    RNode root;
    Subscription evaluated;
    // One cache per parent axis: spacers, dividers and groups depend on it.
    std::unordered_map<const Node*, Flex> flexCache[3];
    std::uint64_t created = 0;
    std::uint64_t renders = 0;
    std::vector<std::pair<std::pair<Font, std::optional<FontWeight>>, QFont>> fonts;
    QFont baseFont;
    QObject* watcher = nullptr;

    // Fonts are few and asked for often.
    const QFont& fontOf(const Env& env) {
        for (const auto& [key, font] : fonts) {
            if (key.first == env.font && key.second == env.imposedWeight)
                return font;
        }
        fonts.emplace_back(std::make_pair(env.font, env.imposedWeight),
                           Appearance::font(env.font, env.imposedWeight));
        return fonts.back().second;
    }

    Impl(ViewHost& h, QWidget& c) : host(h), container(c) {
        root.kind = NodeKind::vstack;
        auto* layout = new QVBoxLayout(&container);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        root.widget = &container;
    }

    QPalette palette() const { return QApplication::palette(); }

    // Flexibility ---------------------------------------------------------------------------

    Flex flex(const Node& n, Axis parent) {
        auto& cache = flexCache[static_cast<int>(parent)];
        auto found = cache.find(&n);
        if (found != cache.end()) {
            return found->second;
        }
        const Flex f = computeFlex(n, parent);
        cache.emplace(&n, f);
        return f;
    }

    Flex childrenFlex(const Node& n, Axis axis) {
        Flex f;
        for (const View& child : n.children) {
            const Flex c = flex(child.node(), axis);
            f.h = f.h || c.h;
            f.v = f.v || c.v;
        }
        return f;
    }

    Flex computeFlex(const Node& n, Axis parent) {
        switch (n.kind) {
            case NodeKind::empty:
                return {};
            case NodeKind::group:
            case NodeKind::component:
                return childrenFlex(n, parent);
            case NodeKind::vstack:
                return childrenFlex(n, Axis::vertical);
            case NodeKind::hstack:
                return childrenFlex(n, Axis::horizontal);
            case NodeKind::zstack:
                return childrenFlex(n, Axis::none);
            case NodeKind::scroll:
            case NodeKind::form:
            case NodeKind::list:
            case NodeKind::tabView:
            case NodeKind::shape:
                return {true, true};
            case NodeKind::section:
                return {true, false};
            case NodeKind::spacer:
                return {parent != Axis::vertical, parent != Axis::horizontal};
            case NodeKind::divider:
                return {parent != Axis::horizontal, parent == Axis::horizontal};
            case NodeKind::textField:
                return {true, false};
            case NodeKind::progress:
                return {n.progress.has_value(), false};
            case NodeKind::button:
                if (n.buttonStyle && std::holds_alternative<MenuRowStyle>(*n.buttonStyle)) {
                    return {true, false};
                }
                return {childrenFlex(n, Axis::none).h, false};
            case NodeKind::frame: {
                const Flex c = childrenFlex(n, Axis::none);
                const Frame& f = n.frameValue;
                Flex out;
                out.h = f.width ? false : f.maxWidth ? std::isinf(*f.maxWidth) : c.h;
                out.v = f.height ? false : f.maxHeight ? std::isinf(*f.maxHeight) : c.v;
                return out;
            }
            case NodeKind::fixedSize: {
                Flex c = childrenFlex(n, parent);
                if (n.fixedHorizontal)
                    c.h = false;
                if (n.fixedVertical)
                    c.v = false;
                return c;
            }
            case NodeKind::padding:
            case NodeKind::background:
            case NodeKind::overlay:
                return childrenFlex(n, parent);
            default:
                return {};
        }
    }

    // Reconciliation ------------------------------------------------------------------------

    struct Entry {
        std::string key;
        View view;
        Env env;
    };

    // Groups, components and empty views have no widget: their children take their place.
    void flatten(const std::vector<View>& views, const std::string& prefix, const Env& env,
                 std::vector<Entry>& out) {
        for (std::size_t i = 0; i < views.size(); ++i) {
            const Node& n = views[i].node();
            std::string key = prefix + childKey(n, i);
            if (n.kind == NodeKind::group || n.kind == NodeKind::component) {
                flatten(n.children, key + "/", env.applying(n), out);
            } else if (n.kind != NodeKind::empty) {
                out.push_back(Entry{std::move(key), views[i], env});
            }
        }
    }

    // Matches entries to the existing children by key; makes new ones, drops the rest.
    void reconcile(RNode& parent, std::vector<Entry> entries, Axis axis, Role role) {
        // Most evaluations change values, not structure: the same keys in the same order.
        bool sameKeys = entries.size() == parent.children.size();
        for (std::size_t i = 0; sameKeys && i < entries.size(); ++i) {
            sameKeys = parent.children[i]->key == entries[i].key;
        }
        if (sameKeys) {
            for (std::size_t i = 0; i < entries.size(); ++i) {
                update(*parent.children[i], entries[i].view, entries[i].env, axis, role);
            }
            return;
        }
        std::unordered_map<std::string, std::shared_ptr<RNode>> old;
        old.reserve(parent.children.size());
        for (auto& child : parent.children) {
            // Siblings that share an id cannot both be matched: the later one goes.
            if (auto [at, inserted] = old.try_emplace(child->key, child); !inserted) {
                discard(*child);
            }
        }
        std::vector<std::shared_ptr<RNode>> next;
        next.reserve(entries.size());
        for (Entry& entry : entries) {
            std::shared_ptr<RNode> child;
            auto found = old.find(entry.key);
            if (found != old.end() && found->second) {
                child = std::move(found->second);
                old.erase(found);
            } else {
                child = std::make_shared<RNode>();
                child->key = entry.key;
                child->kind = entry.view.node().kind;
            }
            update(*child, entry.view, entry.env, axis, role);
            next.push_back(std::move(child));
        }
        for (auto& [key, gone] : old) {
            if (gone) {
                discard(*gone);
            }
        }
        parent.children = std::move(next);
    }

    // A node that goes stops hearing from its widgets before they are hidden: hiding a focused
    // field finishes its edit, and that edit belongs to nothing any more.
    static void retire(RNode& rn) {
        rn.token.reset();
        for (auto& child : rn.children) {
            if (child)
                retire(*child);
        }
        for (auto* extra : {&rn.rowLabel, &rn.inner}) {
            if (*extra)
                retire(**extra);
        }
    }

    void discard(RNode& rn) {
        retire(rn);
        QWidget* w = rn.placedWidget();
        if (w != nullptr && w != &container) {
            w->hide();
            w->deleteLater();
        }
        rn.widget = rn.outer = nullptr;
    }

    // Puts the children's widgets into a box layout in order, with their alignments.
    void place(RNode& rn, QBoxLayout* layout, const std::vector<Qt::Alignment>& flags,
               int leadingItems = 0) {
        std::vector<QWidget*> order;
        order.reserve(rn.children.size());
        for (auto& child : rn.children) {
            order.push_back(child->placedWidget());
        }
        if (order != rn.placed) {
            while (layout->count() > leadingItems) {
                delete layout->takeAt(leadingItems);
            }
            for (std::size_t i = 0; i < order.size(); ++i) {
                layout->addWidget(order[i], 0, flags[i]);
                order[i]->show();
            }
            rn.placed = order;
            rn.placedFlags = flags;
            return;
        }
        for (std::size_t i = 0; i < order.size(); ++i) {
            if (rn.placedFlags.size() <= i || rn.placedFlags[i] != flags[i]) {
                layout->setAlignment(order[i], flags[i]);
            }
        }
        rn.placedFlags = flags;
    }

    void setPolicy(QWidget* w, Flex f) {
        const QSizePolicy::Policy h = f.h ? QSizePolicy::Expanding : QSizePolicy::Preferred;
        const QSizePolicy::Policy v = f.v ? QSizePolicy::Expanding : QSizePolicy::Preferred;
        QSizePolicy policy = w->sizePolicy();
        if (policy.horizontalPolicy() != h || policy.verticalPolicy() != v) {
            policy.setHorizontalPolicy(h);
            policy.setVerticalPolicy(v);
            w->setSizePolicy(policy);
        }
    }

    // Creation -------------------------------------------------------------------------------

    QWidget* create(RNode& rn, const Node& n, Axis axis) {
        ++created;
        QWidget* w = nullptr;
        std::weak_ptr<char> guard = rn.token;
        RNode* self = &rn;
        switch (n.kind) {
            case NodeKind::group:
            case NodeKind::component:
            case NodeKind::vstack:
            case NodeKind::hstack: {
                auto* box = new BoxWidget;
                auto* layout = new QBoxLayout(
                    n.kind == NodeKind::hstack ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom,
                    box);
                layout->setContentsMargins(0, 0, 0, 0);
                w = box;
                break;
            }
            case NodeKind::zstack: {
                auto* box = new BoxWidget;
                new OverlayLayout(box);
                w = box;
                break;
            }
            case NodeKind::padding:
            case NodeKind::frame:
            case NodeKind::fixedSize:
            case NodeKind::background:
            case NodeKind::overlay: {
                auto* box = new BoxWidget;
                auto* layout = new QVBoxLayout(box);
                layout->setContentsMargins(0, 0, 0, 0);
                w = box;
                break;
            }
            case NodeKind::scroll:
            case NodeKind::form:
            case NodeKind::list: {
                auto* area = new QScrollArea;
                area->setFrameShape(QFrame::NoFrame);
                area->setWidgetResizable(true);
                area->viewport()->setAutoFillBackground(false);
                auto* content = new BoxWidget;
                content->setAutoFillBackground(false);
                auto* layout = new QVBoxLayout(content);
                layout->setContentsMargins(0, 0, 0, 0);
                layout->setSpacing(0);
                if (n.kind == NodeKind::form) {
                    layout->setContentsMargins(12, 8, 12, 12);
                    layout->setSpacing(18);
                    layout->setAlignment(Qt::AlignTop);
                    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                }
                if (n.kind == NodeKind::list) {
                    auto* panel = new BoxWidget;
                    auto* rows = new QVBoxLayout(panel);
                    rows->setContentsMargins(0, 4, 0, 4);
                    rows->setSpacing(0);
                    layout->addWidget(panel);
                    layout->addStretch(1);
                    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                }
                area->setWidget(content);
                // The area's own background would hide what its container paints.
                content->setAutoFillBackground(false);
                area->setAutoFillBackground(false);
                auto check = [this, guard, self, area] {
                    if (!guard.expired()) {
                        checkScrolledToEnd(*self, area);
                    }
                };
                for (QScrollBar* bar : {area->verticalScrollBar(), area->horizontalScrollBar()}) {
                    QObject::connect(bar, &QScrollBar::valueChanged, area, check);
                    QObject::connect(bar, &QScrollBar::rangeChanged, area, check);
                }
                w = area;
                break;
            }
            case NodeKind::section: {
                auto* box = new BoxWidget;
                auto* layout = new QVBoxLayout(box);
                layout->setContentsMargins(0, 0, 0, 0);
                layout->setSpacing(6);
                auto* panel = new BoxWidget;
                auto* rows = new QVBoxLayout(panel);
                rows->setContentsMargins(12, 2, 12, 2);
                rows->setSpacing(0);
                panel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
                rn.extras.push_back(panel);
                w = box;
                break;
            }
            case NodeKind::tabView: {
                auto* box = new BoxWidget;
                auto* layout = new QVBoxLayout(box);
                layout->setContentsMargins(0, 0, 0, 0);
                layout->setSpacing(8);
                auto* bar = new SegmentedControl;
                layout->addWidget(bar, 0, Qt::AlignHCenter);
                auto* panel = new BoxWidget;
                auto* panelLayout = new QVBoxLayout(panel);
                panelLayout->setContentsMargins(10, 10, 10, 10);
                auto* pages = new QStackedWidget;
                panelLayout->addWidget(pages);
                layout->addWidget(panel, 1);
                rn.control = bar;
                rn.extras = {panel, pages};
                bar->onActivated = [guard, self, bar](int index) {
                    if (guard.expired())
                        return;
                    const Node& node = self->node();
                    if (index < 0 || static_cast<std::size_t>(index) >= node.tabs.size())
                        return;
                    auto binding = node.textBinding;
                    binding.set(node.tabs[static_cast<std::size_t>(index)].tag);
                    // The bar shows the page the selection holds now; the page follows on the
                    // next evaluation.
                    const std::string now = binding.get ? binding.get() : std::string();
                    for (std::size_t i = 0; i < node.tabs.size(); ++i) {
                        if (node.tabs[i].tag == now)
                            bar->setSelectedIndex(static_cast<int>(i));
                    }
                };
                w = box;
                break;
            }
            case NodeKind::divider:
                w = new SeparatorLine(axis == Axis::horizontal ? Qt::Vertical : Qt::Horizontal);
                break;
            case NodeKind::spacer:
                w = new QWidget;
                break;
            case NodeKind::text: {
                auto* label = new TextLabel;
                label->setOpenExternalLinks(true);
                w = label;
                break;
            }
            case NodeKind::label: {
                auto* box = new BoxWidget;
                auto* layout = new QHBoxLayout(box);
                layout->setContentsMargins(0, 0, 0, 0);
                layout->setSpacing(5);
                auto* symbol = new SymbolWidget;
                auto* text = new QLabel;
                text->setForegroundRole(QPalette::WindowText);
                layout->addWidget(symbol, 0, Qt::AlignVCenter);
                layout->addWidget(text, 0, Qt::AlignVCenter);
                rn.extras = {symbol, text};
                w = box;
                break;
            }
            case NodeKind::image:
                w = new SymbolWidget;
                break;
            case NodeKind::shape:
                w = new ShapeWidget;
                break;
            case NodeKind::button: {
                auto* button = new ViewButton;
                QObject::connect(button, &QAbstractButton::clicked, button, [guard, self] {
                    if (guard.expired())
                        return;
                    if (auto action = self->node().action) {
                        action();
                    }
                });
                auto restyle = [guard, self] {
                    if (guard.expired() || !self->restyle)
                        return;
                    // A copy: restyling may replace the node's closure while it runs.
                    auto fn = self->restyle;
                    fn();
                };
                QObject::connect(button, &QAbstractButton::pressed, button, restyle);
                QObject::connect(button, &QAbstractButton::released, button, restyle);
                w = button;
                break;
            }
            case NodeKind::toggle:
                w = makeLabelled(rn);
                break;
            case NodeKind::picker:
            case NodeKind::stepper:
            case NodeKind::datePicker:
            case NodeKind::labeledContent:
            case NodeKind::textField:
                w = makeLabelled(rn);
                makeControl(rn, n);
                break;
            case NodeKind::menu: {
                auto* button = new ViewButton;
                rn.menu = new QMenu(button);
                auto* indicator = new SymbolWidget(button);
                indicator->hide();
                rn.extras = {indicator};
                QObject::connect(button, &QAbstractButton::clicked, button, [button, self, guard] {
                    if (guard.expired() || self->menu == nullptr)
                        return;
                    self->menu->popup(button->mapToGlobal(QPoint(0, button->height() + 2)));
                });
                w = button;
                break;
            }
            case NodeKind::progress:
                w = new BoxWidget;
                new QVBoxLayout(w);
                w->layout()->setContentsMargins(0, 0, 0, 0);
                break;
            default:
                w = new BoxWidget;
                break;
        }
        w->setObjectName(qs(rn.key));
        return w;
    }

    // A labelled control: its label (a rendered view) and the control side by side.
    QWidget* makeLabelled(RNode&) {
        auto* box = new BoxWidget;
        auto* layout = new QHBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(8);
        return box;
    }

    void makeControl(RNode& rn, const Node& n) {
        std::weak_ptr<char> guard = rn.token;
        RNode* self = &rn;
        switch (n.kind) {
            case NodeKind::textField: {
                auto* field = new QLineEdit;
                QObject::connect(field, &QLineEdit::textEdited, field,
                                 [guard, self](const QString& text) {
                                     if (guard.expired())
                                         return;
                                     const Node& node = self->node();
                                     if (node.isInteger) {
                                         self->dirty = true;
                                     } else if (node.textBinding.set) {
                                         auto binding = node.textBinding;
                                         binding.set(text.toStdString());
                                     }
                                 });
                QObject::connect(field, &QLineEdit::editingFinished, field, [guard, self, field] {
                    if (!guard.expired())
                        commitInteger(*self, field);
                });
                QObject::connect(field, &QLineEdit::returnPressed, field, [guard, self] {
                    if (guard.expired())
                        return;
                    if (auto submit = self->node().onSubmit) {
                        submit();
                    }
                });
                rn.control = field;
                break;
            }
            case NodeKind::stepper: {
                auto* arrows = new StepperArrows;
                arrows->onStep = [guard, self](int direction) {
                    if (guard.expired())
                        return;
                    const Node& node = self->node();
                    auto binding = node.numberBinding;
                    const double next = std::clamp(binding.get() + direction * node.step,
                                                   node.minimum, node.maximum);
                    binding.set(next);
                };
                rn.control = arrows;
                break;
            }
            case NodeKind::datePicker: {
                auto* edit = new QDateTimeEdit;
                edit->setTimeSpec(Qt::LocalTime);
                QObject::connect(
                    edit, &QDateTimeEdit::dateTimeChanged, edit,
                    [guard, self](const QDateTime& value) {
                        if (guard.expired() || self->updating)
                            return;
                        auto binding = self->node().dateBinding;
                        binding.set(Date::fromUnix(static_cast<double>(value.toSecsSinceEpoch())));
                    });
                rn.control = edit;
                break;
            }
            default:
                break;
        }
    }

    static void commitInteger(RNode& rn, QLineEdit* field) {
        const Node& node = rn.node();
        if (!node.isInteger || !rn.dirty) {
            return;
        }
        rn.dirty = false;
        const std::string text = field->text().trimmed().toStdString();
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(text.c_str(), &end, 10);
        auto binding = node.integerBinding;
        if (!text.empty() && end != text.c_str() && *end == '\0' && errno == 0) {
            binding.set(value);
        }
        // Whatever was typed, the field shows the value the binding holds now.
        const QString shown = QString::number(binding.get());
        if (field->text() != shown) {
            field->setText(shown);
        }
    }

    void checkScrolledToEnd(RNode& rn, QScrollArea* area) {
        if (rn.kind != NodeKind::scroll && rn.kind != NodeKind::list) {
            return;
        }
        QScrollBar* bar =
            rn.node().horizontalScroll ? area->horizontalScrollBar() : area->verticalScrollBar();
        // Within 6 points of the end counts as the end: the last line is fully in view.
        const bool atEnd = bar->value() >= bar->maximum() - 6;
        if (atEnd && !rn.atEnd) {
            rn.atEnd = true;
            if (auto action = rn.node().onScrolledToEnd) {
                action();
            }
        } else if (!atEnd) {
            rn.atEnd = false;
        }
    }

    // Update ---------------------------------------------------------------------------------

    void update(RNode& rn, const View& view, const Env& inherited, Axis axis, Role role) {
        const Node& n = view.node();
        Env env = inherited.applying(n);
        // A form row shows a control's label on its left, so the control shows none itself.
        const bool rowLabelled = role == Role::sectionRow && !env.labelsHidden &&
                                 labelledControl(n) != nullptr && labelViewOf(*labelledControl(n));
        Env rowEnv = env;
        if (rowLabelled) {
            env.labelsHidden = true;
            env.inFormRow = true;
        }
        rn.view = view;
        rn.env = env;
        const bool fresh = rn.widget == nullptr;
        if (fresh) {
            rn.widget = create(rn, n, axis);
        }
        Env childEnv = env;
        if (!passesOpacityDown(n.kind)) {
            childEnv.opacity = 1;
        }
        switch (n.kind) {
            case NodeKind::group:
            case NodeKind::component:
            case NodeKind::vstack:
            case NodeKind::hstack:
                updateStack(rn, n, childEnv);
                break;
            case NodeKind::zstack:
                updateZStack(rn, n, childEnv);
                break;
            case NodeKind::padding:
            case NodeKind::frame:
            case NodeKind::fixedSize:
            case NodeKind::background:
            case NodeKind::overlay:
                updateWrapper(rn, n, childEnv, axis);
                break;
            case NodeKind::scroll:
                updateScroll(rn, n, childEnv);
                break;
            case NodeKind::form:
                updateForm(rn, n, childEnv);
                break;
            case NodeKind::section:
                updateSection(rn, n, childEnv);
                break;
            case NodeKind::list:
                updateList(rn, n, childEnv);
                break;
            case NodeKind::tabView:
                updateTabs(rn, n, childEnv);
                break;
            case NodeKind::divider:
                static_cast<SeparatorLine*>(rn.widget)->setOrientation(
                    axis == Axis::horizontal ? Qt::Vertical : Qt::Horizontal);
                static_cast<SeparatorLine*>(rn.widget)->setColor(
                    Appearance::named(NamedColor::separator, palette()));
                break;
            case NodeKind::spacer: {
                const int minimum = static_cast<int>(n.spacing.value_or(8));
                rn.widget->setMinimumSize(axis == Axis::vertical ? 0 : minimum,
                                          axis == Axis::horizontal ? 0 : minimum);
                break;
            }
            case NodeKind::text:
                updateText(rn, static_cast<QLabel*>(rn.widget), n, env);
                break;
            case NodeKind::label: {
                auto* symbol = static_cast<SymbolWidget*>(rn.extras[0]);
                auto* text = static_cast<QLabel*>(rn.extras[1]);
                const QFont font = fontOf(env);
                symbol->setSymbol(n.systemImage, symbolSide(env), foregroundOf(env), 0, 1);
                updateLabelText(text, qs(shownText(n)), font, foregroundOf(env), env);
                break;
            }
            case NodeKind::image:
                static_cast<SymbolWidget*>(rn.widget)->setSymbol(n.systemImage, symbolSide(env),
                                                                 foregroundOf(env),
                                                                 n.rotationDegrees, env.opacity);
                break;
            case NodeKind::shape: {
                const QPalette pal = palette();
                static_cast<ShapeWidget*>(rn.widget)->setLook(
                    n.shape, n.fill ? Appearance::color(*n.fill, pal) : QColor(),
                    n.stroke ? Appearance::color(n.stroke->color, pal) : QColor(),
                    n.stroke ? n.stroke->lineWidth : 1, env.opacity);
                break;
            }
            case NodeKind::button:
                updateButton(rn, n, env, childEnv);
                break;
            case NodeKind::toggle:
                updateToggle(rn, n, env, childEnv);
                break;
            case NodeKind::picker:
                updatePicker(rn, n, env, childEnv);
                break;
            case NodeKind::menu:
                updateMenu(rn, n, env, childEnv);
                break;
            case NodeKind::textField:
                updateTextField(rn, n, env, childEnv);
                break;
            case NodeKind::stepper:
                updateStepper(rn, n, env, childEnv);
                break;
            case NodeKind::datePicker:
                updateDatePicker(rn, n, env, childEnv);
                break;
            case NodeKind::labeledContent:
                updateLabeledContent(rn, n, env, childEnv);
                break;
            case NodeKind::progress:
                updateProgress(rn, n, env);
                break;
            default:
                break;
        }
        updateCommon(rn, n, env);
        updateRow(rn, n, rowEnv, role);
    }

    void updateCommon(RNode& rn, const Node& n, const Env& env) {
        QWidget* w = rn.widget;
        const QString tip = n.help ? qs(localized(*n.help)) : QString();
        if (w->toolTip() != tip) {
            w->setToolTip(tip);
        }
        if (n.accessibilityLabel) {
            const QString name = qs(localized(*n.accessibilityLabel));
            if (w->accessibleName() != name)
                w->setAccessibleName(name);
        }
        QString description;
        if (n.accessibilityHint)
            description = qs(localized(*n.accessibilityHint));
        if (n.accessibilityValue) {
            const QString value = qs(localized(*n.accessibilityValue));
            description = description.isEmpty() ? value : value + ". " + description;
        }
        if (w->accessibleDescription() != description) {
            w->setAccessibleDescription(description);
        }
        if (w->testAttribute(Qt::WA_ForceDisabled) != env.disabled) {
            w->setEnabled(!env.disabled);
        }
        if (env.inButton && !w->testAttribute(Qt::WA_TransparentForMouseEvents)) {
            w->setAttribute(Qt::WA_TransparentForMouseEvents);
        }
        if (!passesOpacityDown(n.kind)) {
            auto* effect = qobject_cast<QGraphicsOpacityEffect*>(w->graphicsEffect());
            if (env.opacity < 1) {
                if (effect == nullptr) {
                    effect = new QGraphicsOpacityEffect(w);
                    w->setGraphicsEffect(effect);
                }
                if (effect->opacity() != env.opacity)
                    effect->setOpacity(env.opacity);
            } else if (effect != nullptr) {
                w->setGraphicsEffect(nullptr);
            }
        } else if (auto* box = dynamic_cast<BoxWidget*>(w)) {
            box->setPaintOpacity(env.opacity);
        }
        if (n.onTap && !rn.tapInstalled) {
            rn.tapInstalled = true;
            std::weak_ptr<char> guard = rn.token;
            RNode* self = &rn;
            w->installEventFilter(new TapFilter(w, [guard, self] {
                if (guard.expired())
                    return;
                if (auto action = self->node().onTap)
                    action();
            }));
        }
    }

    QColor foregroundOf(const Env& env) {
        if (env.forcedForeground)
            return *env.forcedForeground;
        return Appearance::foreground(env.foreground, palette());
    }

    int symbolSide(const Env& env) { return static_cast<int>(std::lround(env.font.size * 1.2)); }

    // Text -------------------------------------------------------------------------------------

    void updateText(RNode& rn, QLabel* label, const Node& n, const Env& env) {
        std::string raw = shownText(n);
        const QFont font = fontOf(env);
        const QColor color = foregroundOf(env);
        QString shown;
        Qt::TextFormat format = Qt::PlainText;
        const QColor link = Appearance::named(NamedColor::accent, palette());
        const std::string cacheKey =
            raw + (n.verbatim ? "\x1fv" : "\x1fm") + std::to_string(font.pixelSize());
        if (cacheKey == rn.lastRaw && link == rn.lastLink && !rn.lastShown.isNull()) {
            shown = rn.lastShown;
            format = label->textFormat();
        } else if (n.verbatim) {
            shown = qs(raw);
        } else {
            const std::vector<TextRun> runs = parseInlineMarkdown(raw);
            if (plainRuns(runs)) {
                shown = qs(plainText(runs));
            } else {
                shown = htmlOf(runs, font, link);
                format = Qt::RichText;
            }
        }
        rn.lastRaw = cacheKey;
        rn.lastLink = link;
        rn.lastShown = shown;
        if (env.uppercase) {
            shown = shown.toUpper();
        }
        if (label->textFormat() != format)
            label->setTextFormat(format);
        updateLabelText(label, shown, font, color, env);
        const bool wraps = env.lineLimit ? *env.lineLimit > 1 : shown.size() > 48;
        if (label->wordWrap() != wraps)
            label->setWordWrap(wraps);
        const int maxHeight = env.lineLimit && *env.lineLimit > 1
                                  ? *env.lineLimit * QFontMetrics(font).lineSpacing() + 2
                                  : QWIDGETSIZE_MAX;
        if (label->maximumHeight() != maxHeight)
            label->setMaximumHeight(maxHeight);
        const Qt::Alignment align = textFlag(env.multiline) | Qt::AlignVCenter;
        if (label->alignment() != align)
            label->setAlignment(align);
        Qt::TextInteractionFlags flags = Qt::LinksAccessibleByMouse;
        if (env.textSelection && !env.inButton)
            flags |= Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard;
        if (label->textInteractionFlags() != flags)
            label->setTextInteractionFlags(flags);
    }

    void updateLabelText(QLabel* label, const QString& text, const QFont& font, const QColor& color,
                         const Env&) {
        if (label->font() != font)
            label->setFont(font);
        QPalette pal = label->palette();
        if (pal.color(QPalette::Active, QPalette::WindowText) != color ||
            !(label->palette().resolveMask() & (1ull << QPalette::WindowText))) {
            pal.setColor(QPalette::Active, QPalette::WindowText, color);
            pal.setColor(QPalette::Inactive, QPalette::WindowText, color);
            QColor disabled = color;
            disabled.setAlphaF(disabled.alphaF() * 0.45f);
            pal.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
            label->setPalette(pal);
        }
        if (label->text() != text)
            label->setText(text);
    }

    // Stacks and wrappers ---------------------------------------------------------------------

    void updateStack(RNode& rn, const Node& n, const Env& childEnv) {
        const bool vertical = n.kind != NodeKind::hstack;
        const Axis axis = vertical ? Axis::vertical : Axis::horizontal;
        std::vector<Entry> entries;
        flatten(n.children, "", childEnv, entries);
        reconcile(rn, std::move(entries), axis, Role::plain);
        auto* layout = static_cast<QBoxLayout*>(rn.widget->layout());
        const int spacing = static_cast<int>(n.spacing.value_or(8));
        if (layout->spacing() != spacing)
            layout->setSpacing(spacing);
        std::vector<Qt::Alignment> flags;
        flags.reserve(rn.children.size());
        for (auto& child : rn.children) {
            const Flex f = flex(child->node(), axis);
            setPolicy(child->placedWidget(), f);
            if (vertical) {
                flags.push_back(f.h ? Qt::Alignment() : hFlag(n.hAlign));
            } else {
                flags.push_back(f.v ? Qt::Alignment() : vFlag(n.vAlign));
            }
        }
        place(rn, layout, flags);
    }

    void updateZStack(RNode& rn, const Node& n, const Env& childEnv) {
        std::vector<Entry> entries;
        flatten(n.children, "", childEnv, entries);
        reconcile(rn, std::move(entries), Axis::none, Role::plain);
        auto* layout = static_cast<OverlayLayout*>(rn.widget->layout());
        std::vector<QWidget*> order;
        for (auto& child : rn.children) {
            setPolicy(child->placedWidget(), flex(child->node(), Axis::none));
            order.push_back(child->placedWidget());
        }
        if (order != rn.placed) {
            clearLayout(layout);
            for (QWidget* w : order) {
                layout->addWidget(w);
                w->show();
                w->raise();
            }
            rn.placed = order;
        }
        layout->setAlignment(hFlag(n.alignment.horizontal) | vFlag(n.alignment.vertical));
    }

    void updateWrapper(RNode& rn, const Node& n, const Env& childEnv, Axis axis) {
        auto* box = static_cast<BoxWidget*>(rn.widget);
        auto* layout = static_cast<QVBoxLayout*>(box->layout());
        std::vector<Entry> entries;
        flatten(n.children, "", childEnv, entries);
        reconcile(rn, std::move(entries), axis, Role::plain);
        const QPalette pal = palette();
        QMargins margins;
        if (n.kind == NodeKind::padding) {
            margins =
                QMargins(static_cast<int>(n.insets.leading), static_cast<int>(n.insets.top),
                         static_cast<int>(n.insets.trailing), static_cast<int>(n.insets.bottom));
        }
        if (layout->contentsMargins() != margins)
            layout->setContentsMargins(margins);
        if (n.kind == NodeKind::background) {
            const Background& b = n.backgroundValue;
            QColor fill = std::holds_alternative<Color>(b.fill)
                              ? Appearance::color(std::get<Color>(b.fill), pal)
                              : Appearance::material(std::get<Material>(b.fill), pal);
            box->setBackground(fill, b.shape);
        }
        if (n.kind == NodeKind::overlay) {
            const Stroke& s = n.overlayValue;
            box->setOverlay(Appearance::color(s.color, pal), s.lineWidth, s.shape);
        }
        std::vector<Qt::Alignment> flags;
        for (auto& child : rn.children) {
            const Flex f = flex(child->node(), Axis::none);
            setPolicy(child->placedWidget(), f);
            Qt::Alignment a;
            if (n.kind == NodeKind::frame) {
                if (!f.h)
                    a |= hFlag(n.frameValue.alignment.horizontal);
                if (!f.v)
                    a |= vFlag(n.frameValue.alignment.vertical);
            }
            flags.push_back(a);
        }
        place(rn, layout, flags);
        if (n.kind == NodeKind::frame) {
            const Frame& f = n.frameValue;
            const auto px = [](double v) {
                return std::isinf(v) ? QWIDGETSIZE_MAX
                                     : static_cast<int>(std::min<double>(v, QWIDGETSIZE_MAX));
            };
            const int minW = f.width ? px(*f.width) : f.minWidth ? px(*f.minWidth) : 0;
            const int maxW = f.width      ? px(*f.width)
                             : f.maxWidth ? px(*f.maxWidth)
                                          : QWIDGETSIZE_MAX;
            const int minH = f.height ? px(*f.height) : f.minHeight ? px(*f.minHeight) : 0;
            const int maxH = f.height      ? px(*f.height)
                             : f.maxHeight ? px(*f.maxHeight)
                                           : QWIDGETSIZE_MAX;
            if (box->minimumWidth() != minW)
                box->setMinimumWidth(minW);
            if (box->maximumWidth() != maxW)
                box->setMaximumWidth(maxW);
            if (box->minimumHeight() != minH)
                box->setMinimumHeight(minH);
            if (box->maximumHeight() != maxH)
                box->setMaximumHeight(maxH);
        }
    }

    // Scrolling containers --------------------------------------------------------------------

    void updateScroll(RNode& rn, const Node& n, const Env& childEnv) {
        auto* area = static_cast<QScrollArea*>(rn.widget);
        const Qt::ScrollBarPolicy shown =
            n.showsIndicators ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
        area->setVerticalScrollBarPolicy(n.horizontalScroll ? Qt::ScrollBarAlwaysOff : shown);
        area->setHorizontalScrollBarPolicy(n.horizontalScroll ? shown : Qt::ScrollBarAlwaysOff);
        const Axis axis = n.horizontalScroll ? Axis::horizontal : Axis::vertical;
        std::vector<Entry> entries;
        flatten(n.children, "", childEnv, entries);
        reconcile(rn, std::move(entries), axis, Role::plain);
        auto* layout = static_cast<QVBoxLayout*>(area->widget()->layout());
        std::vector<Qt::Alignment> flags;
        for (auto& child : rn.children) {
            const Flex f = flex(child->node(), Axis::none);
            setPolicy(child->placedWidget(), f);
            flags.push_back((f.h ? Qt::Alignment() : Qt::AlignLeft) |
                            (f.v ? Qt::Alignment() : Qt::AlignTop));
        }
        place(rn, layout, flags);
        std::weak_ptr<char> guard = rn.token;
        RNode* self = &rn;
        QMetaObject::invokeMethod(
            area,
            [this, guard, self, area] {
                if (!guard.expired())
                    checkScrolledToEnd(*self, area);
            },
            Qt::QueuedConnection);
    }

    void updateForm(RNode& rn, const Node& n, const Env& childEnv) {
        auto* area = static_cast<QScrollArea*>(rn.widget);
        std::vector<Entry> entries;
        flatten(n.children, "", childEnv, entries);
        reconcile(rn, std::move(entries), Axis::vertical, Role::sectionRow);
        auto* layout = static_cast<QVBoxLayout*>(area->widget()->layout());
        std::vector<Qt::Alignment> flags;
        for (auto& child : rn.children) {
            const Flex f = flex(child->node(), Axis::vertical);
            setPolicy(child->placedWidget(), Flex{true, f.v});
            flags.push_back(Qt::Alignment());
        }
        place(rn, layout, flags);
    }

    void updateSection(RNode& rn, const Node& n, const Env& childEnv) {
        auto* box = static_cast<BoxWidget*>(rn.widget);
        auto* layout = static_cast<QVBoxLayout*>(box->layout());
        auto* panel = static_cast<BoxWidget*>(rn.extras[0]);
        const QPalette pal = palette();
        const bool dark = Appearance::isDark(pal);
        panel->setBackground(dark ? QColor(255, 255, 255, 13) : QColor(255, 255, 255, 150),
                             Shape::rounded(7));
        panel->setOverlay(dark ? QColor(255, 255, 255, 26) : QColor(0, 0, 0, 22), 1,
                          Shape::rounded(7));

        // Rows first, then the header and footer beside them, keyed apart from the rows.
        std::vector<Entry> entries;
        flatten(n.children, "", childEnv, entries);
        reconcile(rn, std::move(entries), Axis::vertical, Role::sectionRow);

        Env headerEnv = childEnv;
        headerEnv.font = Font::system(11, FontWeight::semibold);
        headerEnv.foreground = Hierarchy::secondary;
        headerEnv.uppercase = true;
        Env footerEnv = childEnv;
        footerEnv.font = Font::system(11);
        footerEnv.foreground = Hierarchy::secondary;
        updateExtra(rn, 0, n.header, headerEnv);
        updateExtra(rn, 1, n.footer, footerEnv);

        auto* rows = static_cast<QVBoxLayout*>(panel->layout());
        std::vector<QWidget*> order;
        for (auto& child : rn.children) {
            order.push_back(child->placedWidget());
        }
        if (order != rn.placed) {
            clearLayout(rows);
            for (std::size_t i = 1; i < rn.extras.size(); ++i) {
                rn.extras[i]->deleteLater();
            }
            rn.extras.resize(1);
            for (std::size_t i = 0; i < order.size(); ++i) {
                if (i > 0) {
                    auto* line = new SeparatorLine(Qt::Horizontal);
                    rows->addWidget(line);
                    rn.extras.push_back(line);
                }
                rows->addWidget(order[i]);
                order[i]->show();
            }
            rn.placed = order;
        }
        for (std::size_t i = 1; i < rn.extras.size(); ++i) {
            static_cast<SeparatorLine*>(rn.extras[i])
                ->setColor(Appearance::named(NamedColor::separator, pal));
        }
        // header, panel, footer
        clearLayoutIfDifferent(layout, {headerWidget(rn), panel, footerWidget(rn)});
    }

    // Section headers and footers live in two fixed slots after the rows' extras.
    std::vector<std::shared_ptr<RNode>>& sectionSlots(RNode& rn) {
        if (!rn.inner) {
            rn.inner = std::make_shared<RNode>();
            rn.inner->children.resize(2);
        }
        return rn.inner->children;
    }

    void updateExtra(RNode& rn, std::size_t slot, const std::optional<View>& view, const Env& env) {
        auto& extraSlots = sectionSlots(rn);
        std::shared_ptr<RNode>& holder = extraSlots[slot];
        if (!view || view->node().kind == NodeKind::empty) {
            if (holder) {
                discard(*holder);
                holder.reset();
            }
            return;
        }
        const std::string key =
            (slot == 0 ? "header:" : "footer:") + std::string(nodeKindName(view->node().kind));
        if (holder && holder->key != key) {
            discard(*holder);
            holder.reset();
        }
        if (!holder) {
            holder = std::make_shared<RNode>();
            holder->key = key;
            holder->kind = view->node().kind;
        }
        update(*holder, *view, env, Axis::vertical, Role::plain);
    }

    QWidget* headerWidget(RNode& rn) {
        auto& extraSlots = sectionSlots(rn);
        return extraSlots[0] ? extraSlots[0]->placedWidget() : nullptr;
    }
    QWidget* footerWidget(RNode& rn) {
        auto& extraSlots = sectionSlots(rn);
        return extraSlots[1] ? extraSlots[1]->placedWidget() : nullptr;
    }

    void clearLayoutIfDifferent(QVBoxLayout* layout, std::vector<QWidget*> widgets) {
        std::erase(widgets, nullptr);
        bool same = layout->count() == static_cast<int>(widgets.size());
        for (int i = 0; same && i < layout->count(); ++i) {
            same = layout->itemAt(i)->widget() == widgets[static_cast<std::size_t>(i)];
        }
        if (same) {
            return;
        }
        clearLayout(layout);
        for (QWidget* w : widgets) {
            layout->addWidget(w);
            w->show();
        }
    }

    void updateList(RNode& rn, const Node& n, const Env& childEnv) {
        auto* area = static_cast<QScrollArea*>(rn.widget);
        auto* outerLayout = static_cast<QVBoxLayout*>(area->widget()->layout());
        auto* panel = static_cast<BoxWidget*>(outerLayout->itemAt(0)->widget());
        const QPalette pal = palette();
        panel->setBackground(pal.color(QPalette::Base), Shape::rounded(7));
        panel->setOverlay(Appearance::named(NamedColor::separator, pal), 1, Shape::rounded(7));
        std::vector<Entry> entries;
        flatten(n.children, "", childEnv, entries);
        reconcile(rn, std::move(entries), Axis::vertical, Role::listRow);
        auto* rows = static_cast<QVBoxLayout*>(panel->layout());
        std::vector<QWidget*> order;
        for (auto& child : rn.children) {
            order.push_back(child->placedWidget());
        }
        if (order != rn.placed) {
            // Rows keep their widgets; only the lines between them are made anew.
            clearLayout(rows);
            std::size_t reused = 0;
            std::vector<QWidget*> lines;
            for (std::size_t i = 0; i < order.size(); ++i) {
                if (i > 0) {
                    QWidget* line = reused < rn.extras.size() ? rn.extras[reused++]
                                                              : new SeparatorLine(Qt::Horizontal);
                    rows->addWidget(line);
                    line->show();
                    lines.push_back(line);
                }
                rows->addWidget(order[i]);
                order[i]->show();
            }
            for (std::size_t i = reused; i < rn.extras.size(); ++i) {
                rn.extras[i]->deleteLater();
            }
            rn.extras = lines;
            rn.placed = order;
        }
        for (QWidget* line : rn.extras) {
            static_cast<SeparatorLine*>(line)->setColor(
                Appearance::named(NamedColor::separator, pal));
        }
        std::weak_ptr<char> guard = rn.token;
        RNode* self = &rn;
        QMetaObject::invokeMethod(
            area,
            [this, guard, self, area] {
                if (!guard.expired())
                    checkScrolledToEnd(*self, area);
            },
            Qt::QueuedConnection);
    }

    void updateTabs(RNode& rn, const Node& n, const Env& childEnv) {
        auto* bar = static_cast<SegmentedControl*>(rn.control);
        auto* panel = static_cast<BoxWidget*>(rn.extras[0]);
        auto* pages = static_cast<QStackedWidget*>(rn.extras[1]);
        const QPalette pal = palette();
        const bool dark = Appearance::isDark(pal);
        panel->setBackground(dark ? QColor(0, 0, 0, 40) : QColor(0, 0, 0, 10), Shape::rounded(7));
        panel->setOverlay(dark ? QColor(255, 255, 255, 24) : QColor(0, 0, 0, 26), 1,
                          Shape::rounded(7));
        // Pages are matched one to one with the tabs, so they are not flattened.
        std::vector<Entry> entries;
        for (std::size_t i = 0; i < n.children.size(); ++i) {
            entries.push_back(Entry{childKey(n.children[i].node(), i), n.children[i], childEnv});
        }
        reconcile(rn, std::move(entries), Axis::vertical, Role::plain);
        std::vector<QWidget*> order;
        for (auto& child : rn.children) {
            setPolicy(child->placedWidget(), Flex{true, true});
            order.push_back(child->placedWidget());
        }
        if (order != rn.placed) {
            while (pages->count() > 0) {
                pages->removeWidget(pages->widget(0));
            }
            for (QWidget* w : order) {
                pages->addWidget(w);
            }
            rn.placed = order;
        }
        std::vector<SegmentedControl::Segment> segments;
        const std::string selected = n.textBinding.get ? n.textBinding.get() : std::string();
        int index = -1;
        for (std::size_t i = 0; i < n.tabs.size(); ++i) {
            const TabItem& tab = n.tabs[i];
            segments.push_back({qs(localized(tab.title)), tab.systemImage, true});
            if (tab.tag == selected)
                index = static_cast<int>(i);
        }
        bar->setSegments(segments);
        bar->setSelectedIndex(index);
        const QFont font = Appearance::font(Font::system(12), std::nullopt);
        if (bar->font() != font)
            bar->setFont(font);
        const int page = std::clamp(index, 0, std::max(0, pages->count() - 1));
        if (pages->count() > 0 && pages->currentIndex() != page)
            pages->setCurrentIndex(page);
    }

    // Rows of sections and lists ------------------------------------------------------------

    // The labelled control at the end of a chain of wrappers, if any.
    static const Node* labelledControl(const Node& n) {
        const Node* at = &n;
        while (isWrapper(at->kind) && !at->children.empty()) {
            at = &at->children[0].node();
        }
        return isLabelled(at->kind) ? at : nullptr;
    }

    static std::optional<View> labelViewOf(const Node& control) {
        switch (control.kind) {
            case NodeKind::toggle:
            case NodeKind::stepper:
                return control.children.empty() ? std::nullopt
                                                : std::optional<View>(control.children[0]);
            default:
                if (control.text.empty())
                    return std::nullopt;
                return Text(control.text);
        }
    }

    void updateRow(RNode& rn, const Node& n, const Env& env, Role role) {
        if (role == Role::plain || n.kind == NodeKind::section) {
            return;
        }
        const bool fresh = rn.outer == nullptr;
        if (fresh) {
            auto* row = new BoxWidget;
            auto* layout = new QHBoxLayout(row);
            layout->setSpacing(8);
            if (role == Role::sectionRow) {
                layout->setContentsMargins(0, 6, 0, 6);
                row->setMinimumHeight(34);
            } else {
                layout->setContentsMargins(10, 5, 10, 5);
            }
            row->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
            rn.outer = row;
        }
        auto* layout = static_cast<QHBoxLayout*>(rn.outer->layout());
        const Node* control = role == Role::sectionRow ? labelledControl(n) : nullptr;
        std::optional<View> label = control && !env.labelsHidden && n.kind != NodeKind::section
                                        ? labelViewOf(*control)
                                        : std::nullopt;
        if (label) {
            Env labelEnv = env;
            labelEnv.opacity = 1;
            if (!rn.rowLabel) {
                rn.rowLabel = std::make_shared<RNode>();
                rn.rowLabel->key = "label";
                rn.rowLabel->kind = label->node().kind;
            }
            update(*rn.rowLabel, *label, labelEnv, Axis::horizontal, Role::plain);
        } else if (rn.rowLabel) {
            discard(*rn.rowLabel);
            rn.rowLabel.reset();
        }
        const bool labelled = label.has_value();
        const Flex f = flex(n, Axis::horizontal);
        const std::vector<QWidget*> want =
            labelled ? std::vector<QWidget*>{rn.rowLabel->placedWidget(), nullptr, rn.widget}
                     : std::vector<QWidget*>{rn.widget};
        bool same = layout->count() == static_cast<int>(want.size()) && rn.rowLabelled == labelled;
        for (int i = 0; same && i < layout->count(); ++i) {
            same = layout->itemAt(i)->widget() == want[static_cast<std::size_t>(i)];
        }
        if (!same) {
            clearLayout(layout);
            if (labelled) {
                layout->addWidget(rn.rowLabel->placedWidget(), 0, Qt::AlignLeft | Qt::AlignVCenter);
                layout->addStretch(1);
                layout->addWidget(rn.widget, 0, Qt::AlignRight | Qt::AlignVCenter);
            } else {
                layout->addWidget(rn.widget, f.h ? 1 : 0,
                                  f.h ? Qt::Alignment() : Qt::AlignLeft | Qt::AlignVCenter);
                if (!f.h)
                    layout->addStretch(1);
            }
            rn.widget->show();
            rn.rowLabelled = labelled;
        }
        if (labelled) {
            // The control keeps its own width on the right; a field's frame decides it.
            QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
            if (rn.widget->sizePolicy() != policy)
                rn.widget->setSizePolicy(policy);
        } else {
            setPolicy(rn.widget, Flex{f.h, false});
        }
    }

    // Controls -------------------------------------------------------------------------------

    // Lays out a labelled control: [label][control] (or [control][label]).
    void composeLabelled(RNode& rn, std::optional<View> label, QWidget* control, const Env& env,
                         bool controlFirst = false) {
        auto* layout = static_cast<QHBoxLayout*>(rn.widget->layout());
        const bool showLabel = label && !env.labelsHidden;
        if (showLabel) {
            Env labelEnv = env;
            labelEnv.opacity = 1;
            const std::string key = "label:" + std::string(nodeKindName(label->node().kind));
            if (rn.children.empty() || rn.children[0]->key != key) {
                for (auto& child : rn.children)
                    discard(*child);
                rn.children.clear();
                auto child = std::make_shared<RNode>();
                child->key = key;
                child->kind = label->node().kind;
                rn.children.push_back(child);
            }
            update(*rn.children[0], *label, labelEnv, Axis::horizontal, Role::plain);
        } else if (!rn.children.empty()) {
            for (auto& child : rn.children)
                discard(*child);
            rn.children.clear();
        }
        std::vector<QWidget*> want;
        if (showLabel)
            want.push_back(rn.children[0]->placedWidget());
        if (controlFirst)
            want.insert(want.begin(), control);
        else
            want.push_back(control);
        if (want != rn.placed) {
            clearLayout(layout);
            for (QWidget* w : want) {
                const bool expands =
                    w == control && w->sizePolicy().horizontalPolicy() == QSizePolicy::Expanding;
                layout->addWidget(w, expands ? 1 : 0, Qt::AlignVCenter);
                w->show();
            }
            rn.placed = want;
        }
    }

    std::optional<View> ownLabel(const Node& n) {
        if (n.text.empty())
            return std::nullopt;
        return Text(n.text);
    }

    void updateButton(RNode& rn, const Node& n, const Env& env, const Env& childEnv) {
        auto* button = static_cast<ViewButton*>(rn.widget);
        // Assistive technology reads the label's text unless the view names the button itself.
        if (!n.accessibilityLabel && !n.children.empty()) {
            const QString name = textOf(n.children[0].node());
            if (button->accessibleName() != name) {
                button->setAccessibleName(name);
            }
        }
        const QPalette pal = palette();
        Env labelEnv = childEnv;
        labelEnv.inButton = true;
        ViewButton::Look look = ViewButton::Look::bordered;
        double indent = 0, scale = 1;
        if (const auto* row = std::get_if<MenuRowStyle>(&env.buttonStyle)) {
            look = ViewButton::Look::menuRow;
            indent = row->indent;
            scale = row->scale;
            if (!n.children.empty() && !n.children[0].node().font) {
                labelEnv.font = Font::system(13 * scale, env.font.weight);
            }
            if (button->isDown()) {
                labelEnv.forcedForeground = pal.color(QPalette::Active, QPalette::HighlightedText);
            }
        } else {
            switch (std::get<StandardButtonStyle>(env.buttonStyle)) {
                case StandardButtonStyle::automatic:
                case StandardButtonStyle::bordered:
                    look = ViewButton::Look::bordered;
                    break;
                case StandardButtonStyle::borderedProminent:
                    look = ViewButton::Look::prominent;
                    labelEnv.forcedForeground =
                        pal.color(QPalette::Active, QPalette::HighlightedText);
                    break;
                case StandardButtonStyle::plain:
                    look = ViewButton::Look::plain;
                    break;
                case StandardButtonStyle::borderless:
                    look = ViewButton::Look::borderless;
                    break;
                case StandardButtonStyle::link:
                    look = ViewButton::Look::link;
                    labelEnv.foreground = Color::accent();
                    break;
            }
        }
        if (n.role == ButtonRole::destructive && look != ViewButton::Look::prominent &&
            !labelEnv.forcedForeground) {
            labelEnv.foreground = Color::red();
        }
        if (button->look() != look || look == ViewButton::Look::menuRow) {
            button->setLook(look, indent, scale);
        }
        button->setDestructive(n.role == ButtonRole::destructive);
        std::vector<Entry> entries;
        flatten(n.children, "", labelEnv, entries);
        reconcile(rn, std::move(entries), Axis::horizontal, Role::plain);
        // A menu row's label starts at its leading inset; other labels sit in the middle.
        const Qt::Alignment rest =
            look == ViewButton::Look::menuRow ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter;
        std::vector<Qt::Alignment> flags;
        for (auto& child : rn.children) {
            const Flex f = flex(child->node(), Axis::horizontal);
            setPolicy(child->placedWidget(), f);
            flags.push_back(f.h ? Qt::Alignment(Qt::AlignVCenter) : rest);
        }
        place(rn, static_cast<QBoxLayout*>(button->layout()), flags);
        updateShortcuts(rn, n, button);
        if (rn.restyle) {
            return;
        }
        std::weak_ptr<char> guard = rn.token;
        RNode* self = &rn;
        rn.restyle = [this, guard, self] {
            if (guard.expired() || self->widget == nullptr)
                return;
            // Only a menu row changes while held down: its label turns white.
            if (!std::holds_alternative<MenuRowStyle>(self->env.buttonStyle))
                return;
            const View view = self->view;  // keeps the node while the row is redrawn
            const Env heldEnv = self->env;
            Env heldLabelEnv = heldEnv;
            heldLabelEnv.opacity = 1;
            updateButton(*self, view.node(), heldEnv, heldLabelEnv);
            self->widget->update();
        };
    }

    void updateShortcuts(RNode& rn, const Node& n, QAbstractButton* button) {
        if (n.shortcut == rn.shortcutSpec) {
            return;
        }
        for (QShortcut* s : rn.shortcuts)
            delete s;
        rn.shortcuts.clear();
        rn.shortcutSpec = n.shortcut;
        if (auto* view = dynamic_cast<ViewButton*>(button)) {
            view->setDefault(n.shortcut && n.shortcut->key == "return" &&
                             n.shortcut->modifiers == 0);
        }
        if (!n.shortcut) {
            return;
        }
        for (bool alternate : {false, true}) {
            if (alternate && n.shortcut->key != "return")
                break;
            auto* shortcut = new QShortcut(keySequence(*n.shortcut, alternate), button);
            shortcut->setContext(Qt::WindowShortcut);
            QObject::connect(shortcut, &QShortcut::activated, button, [button] {
                if (button->isEnabled() && button->isVisible())
                    button->click();
            });
            rn.shortcuts.push_back(shortcut);
        }
    }

    void updateToggle(RNode& rn, const Node& n, const Env& env, const Env& childEnv) {
        const bool on = n.boolBinding.get ? n.boolBinding.get() : false;
        const ToggleStyle style = env.toggleStyle;
        std::optional<View> label =
            n.children.empty() ? std::nullopt : std::optional<View>(n.children[0]);
        QWidget* control = rn.control;
        const bool wantSwitch =
            style == ToggleStyle::switchStyle || style == ToggleStyle::automatic;
        const bool wantCheckbox = style == ToggleStyle::checkbox;
        bool matches = control != nullptr &&
                       ((wantSwitch && dynamic_cast<SwitchWidget*>(control)) ||
                        (wantCheckbox && dynamic_cast<QCheckBox*>(control)) ||
                        (!wantSwitch && !wantCheckbox && dynamic_cast<ViewButton*>(control)));
        std::weak_ptr<char> guard = rn.token;
        RNode* self = &rn;
        if (!matches) {
            if (control) {
                control->hide();
                control->deleteLater();
                rn.placed.clear();
            }
            QAbstractButton* button = nullptr;
            if (wantSwitch) {
                button = new SwitchWidget;
            } else if (wantCheckbox) {
                button = new QCheckBox;
            } else {
                auto* viewButton = new ViewButton;
                viewButton->setCheckable(true);
                button = viewButton;
            }
            QObject::connect(button, &QAbstractButton::clicked, button, [guard, self, button] {
                if (guard.expired())
                    return;
                auto binding = self->node().boolBinding;
                if (binding.set)
                    binding.set(button->isChecked());
                // Show what the source of truth holds now, whatever it made of the write.
                if (binding.get) {
                    const QSignalBlocker block(button);
                    button->setChecked(binding.get());
                }
            });
            rn.control = control = button;
        }
        auto* button = static_cast<QAbstractButton*>(control);
        if (button->isChecked() != on) {
            const QSignalBlocker block(button);
            button->setChecked(on);
        }
        if (auto* sw = dynamic_cast<SwitchWidget*>(button)) {
            sw->setControlSize(env.controlSize);
        }
        QString name = label ? textOf(label->node()) : QString();
        if (n.accessibilityLabel)
            name = qs(localized(*n.accessibilityLabel));
        if (button->accessibleName() != name)
            button->setAccessibleName(name);
        if (wantCheckbox) {
            // The checkbox carries its own title, so that a click on the words toggles it too.
            auto* box = static_cast<QCheckBox*>(button);
            const QString title = env.labelsHidden ? QString() : name;
            if (box->text() != title)
                box->setText(title);
            const QFont font = fontOf(env);
            if (box->font() != font)
                box->setFont(font);
            composeLabelled(rn, std::nullopt, button, env);
        } else if (!wantSwitch) {
            // A toggle drawn as a button carries its label inside, like any button.
            auto* viewButton = static_cast<ViewButton*>(button);
            Env labelEnv = childEnv;
            labelEnv.inButton = true;
            composeLabelled(rn, std::nullopt, button, env);
            if (label) {
                if (rn.inner == nullptr) {
                    rn.inner = std::make_shared<RNode>();
                    rn.inner->key = "buttonLabel";
                    rn.inner->kind = label->node().kind;
                }
                update(*rn.inner, *label, labelEnv, Axis::horizontal, Role::plain);
                if (viewButton->layout()->indexOf(rn.inner->placedWidget()) < 0) {
                    viewButton->layout()->addWidget(rn.inner->placedWidget());
                    rn.inner->placedWidget()->show();
                }
            }
        } else {
            composeLabelled(rn, label, button, env);
        }
    }

    void updateTextField(RNode& rn, const Node& n, const Env& env, const Env&) {
        auto* field = static_cast<QLineEdit*>(rn.control);
        const QString title = qs(localized(n.text));
        const QString placeholder = env.inFormRow ? QString() : title;
        if (field->placeholderText() != placeholder)
            field->setPlaceholderText(placeholder);
        const QLineEdit::EchoMode echo = n.secure ? QLineEdit::Password : QLineEdit::Normal;
        if (field->echoMode() != echo)
            field->setEchoMode(echo);
        const Qt::Alignment align = textFlag(env.multiline) | Qt::AlignVCenter;
        if (field->alignment() != align)
            field->setAlignment(align);
        const QFont font = fontOf(env);
        if (field->font() != font)
            field->setFont(font);
        if (field->accessibleName() != title && !n.accessibilityLabel)
            field->setAccessibleName(title);
        // Only a value that differs from what the field shows is written, so that the caret,
        // the selection and an edit in progress stay as they are.
        QString value;
        if (n.isInteger) {
            if (!rn.dirty && n.integerBinding.get)
                value = QString::number(n.integerBinding.get());
            else
                value = field->text();
        } else if (n.textBinding.get) {
            value = qs(n.textBinding.get());
        }
        if (field->text() != value) {
            const int caret = field->cursorPosition();
            field->setText(value);
            field->setCursorPosition(std::min(caret, static_cast<int>(value.size())));
        }
        field->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        field->setMinimumWidth(n.isInteger ? 40 : 120);
        composeLabelled(rn, std::nullopt, field, env);
    }

    void updateStepper(RNode& rn, const Node& n, const Env& env, const Env&) {
        auto* arrows = static_cast<StepperArrows*>(rn.control);
        const double value = n.numberBinding.get ? n.numberBinding.get() : 0;
        arrows->setLimits(value<n.maximum, value> n.minimum);
        arrows->setControlSize(env.controlSize);
        std::optional<View> label =
            n.children.empty() ? std::nullopt : std::optional<View>(n.children[0]);
        if (label && arrows->accessibleName().isEmpty())
            arrows->setAccessibleName(textOf(label->node()));
        composeLabelled(rn, label, arrows, env);
    }

    void updateDatePicker(RNode& rn, const Node& n, const Env& env, const Env&) {
        auto* edit = static_cast<QDateTimeEdit*>(rn.control);
        QString format;
        if (n.dateComponents & kDateComponentDate)
            format = "d MMM yyyy";
        if (n.dateComponents & kDateComponentHourMinute)
            format += format.isEmpty() ? "HH:mm" : "  HH:mm";
        rn.updating = true;
        if (edit->displayFormat() != format)
            edit->setDisplayFormat(format);
        edit->setCalendarPopup((n.dateComponents & kDateComponentDate) != 0);
        if (n.dateBinding.get) {
            const QDateTime value = QDateTime::fromSecsSinceEpoch(
                static_cast<qint64>(std::llround(n.dateBinding.get().unixTime())));
            if (edit->dateTime() != value)
                edit->setDateTime(value);
        }
        rn.updating = false;
        const QString name = qs(localized(n.text));
        if (edit->accessibleName() != name)
            edit->setAccessibleName(name);
        composeLabelled(rn, ownLabel(n), edit, env);
    }

    void updateLabeledContent(RNode& rn, const Node& n, const Env& env, const Env& childEnv) {
        // The value is the node's only child; it sits where a control would.
        if (rn.control == nullptr) {
            rn.control = new BoxWidget;
            auto* layout = new QHBoxLayout(rn.control);
            layout->setContentsMargins(0, 0, 0, 0);
        }
        auto holder = rn.inner;
        if (!holder) {
            holder = rn.inner = std::make_shared<RNode>();
            holder->kind = NodeKind::hstack;
            holder->widget = rn.control;
        }
        Env valueEnv = childEnv;
        if (n.children.empty() || !n.children[0].node().foreground)
            valueEnv.foreground = Hierarchy::secondary;
        std::vector<Entry> entries;
        flatten(n.children, "", valueEnv, entries);
        reconcile(*holder, std::move(entries), Axis::horizontal, Role::plain);
        std::vector<Qt::Alignment> flags(holder->children.size(), Qt::AlignVCenter);
        place(*holder, static_cast<QBoxLayout*>(rn.control->layout()), flags);
        composeLabelled(rn, ownLabel(n), rn.control, env);
    }

    void updateProgress(RNode& rn, const Node& n, const Env& env) {
        auto* layout = static_cast<QVBoxLayout*>(rn.widget->layout());
        QWidget* current = layout->count() > 0 ? layout->itemAt(0)->widget() : nullptr;
        if (n.progress) {
            auto* bar = qobject_cast<QProgressBar*>(current);
            if (bar == nullptr) {
                clearLayout(layout);
                delete current;
                bar = new QProgressBar;
                bar->setRange(0, 1000);
                bar->setTextVisible(false);
                layout->addWidget(bar);
            }
            const int value =
                static_cast<int>(std::lround(std::clamp(*n.progress, 0.0, 1.0) * 1000));
            if (bar->value() != value)
                bar->setValue(value);
            const int height = env.controlSize == ControlSize::mini    ? 4
                               : env.controlSize == ControlSize::small ? 6
                               : env.controlSize == ControlSize::large ? 12
                                                                       : 8;
            bar->setFixedHeight(height);
            bar->setMinimumWidth(80);
        } else {
            auto* spinner = dynamic_cast<Spinner*>(current);
            if (spinner == nullptr) {
                clearLayout(layout);
                delete current;
                spinner = new Spinner;
                layout->addWidget(spinner);
            }
            spinner->setControlSize(env.controlSize);
        }
    }

    struct Option {
        QString title;
        std::string tag;
        std::string symbol;
        bool enabled = true;
    };

    std::vector<Option> optionsOf(const Node& n) {
        std::vector<Entry> entries;
        flatten(n.children, "", Env{}, entries);
        std::vector<Option> options;
        for (const Entry& e : entries) {
            const Node& o = e.view.node();
            Option option;
            option.title = textOf(o);
            option.tag = o.tag.value_or(option.title.toStdString());
            const Node* inner = &o;
            while ((isWrapper(inner->kind) || inner->kind == NodeKind::hstack) &&
                   !inner->children.empty() && inner->systemImage.empty()) {
                inner = &inner->children[0].node();
            }
            option.symbol = inner->systemImage;
            option.enabled = !o.disabled;
            options.push_back(std::move(option));
        }
        return options;
    }

    QIcon iconOf(const std::string& symbol, const QColor& color) {
        if (symbol.empty())
            return QIcon();
        return QIcon(QPixmap::fromImage(SymbolSet::shared().image(symbol, 14, color, 2.0)));
    }

    static void syncPicker(RNode& rn) {
        const Node& n = rn.node();
        const std::string selected = n.textBinding.get ? n.textBinding.get() : std::string();
        int index = -1;
        for (std::size_t i = 0; i < rn.tags.size(); ++i) {
            if (rn.tags[i] == selected) {
                index = static_cast<int>(i);
                break;
            }
        }
        if (auto* combo = qobject_cast<QComboBox*>(rn.control)) {
            const QSignalBlocker block(combo);
            combo->setCurrentIndex(index);
        } else if (auto* segments = qobject_cast<SegmentedControl*>(rn.control)) {
            segments->setSelectedIndex(index);
        } else {
            syncRadios(rn);
        }
    }

    // Radio buttons are not exclusive by themselves: the selection alone decides which is on.
    static void syncRadios(RNode& rn) {
        const Node& n = rn.node();
        const std::string selected = n.textBinding.get ? n.textBinding.get() : std::string();
        QLayout* layout = rn.control ? rn.control->layout() : nullptr;
        for (int i = 0; layout && i < layout->count(); ++i) {
            auto* radio = qobject_cast<QRadioButton*>(layout->itemAt(i)->widget());
            if (radio == nullptr || static_cast<std::size_t>(i) >= rn.tags.size())
                continue;
            const QSignalBlocker block(radio);
            radio->setChecked(rn.tags[static_cast<std::size_t>(i)] == selected);
        }
    }

    void updatePicker(RNode& rn, const Node& n, const Env& env, const Env&) {
        const std::vector<Option> options = optionsOf(n);
        const std::string selected = n.textBinding.get ? n.textBinding.get() : std::string();
        int index = -1;
        for (std::size_t i = 0; i < options.size(); ++i) {
            if (options[i].tag == selected) {
                index = static_cast<int>(i);
                break;
            }
        }
        std::vector<std::string> signature;
        rn.tags.clear();
        for (const Option& o : options) {
            signature.push_back(o.title.toStdString() + "\x1f" + o.symbol +
                                (o.enabled ? "" : "\x1f-"));
            rn.tags.push_back(o.tag);
        }
        PickerStyle style = env.pickerStyle;
        if (style == PickerStyle::automatic)
            style = PickerStyle::menu;
        if (style == PickerStyle::inline_)
            style = PickerStyle::radioGroup;
        std::weak_ptr<char> guard = rn.token;
        RNode* self = &rn;
        auto choose = [guard, self](int i) {
            if (guard.expired() || i < 0 || static_cast<std::size_t>(i) >= self->tags.size())
                return;
            auto binding = self->node().textBinding;
            if (binding.set)
                binding.set(self->tags[static_cast<std::size_t>(i)]);
            // Show at once what the source of truth holds now.
            syncPicker(*self);
        };
        const QPalette pal = palette();
        const bool styleMatches =
            rn.control != nullptr &&
            ((style == PickerStyle::menu && qobject_cast<QComboBox*>(rn.control)) ||
             (style == PickerStyle::segmented && dynamic_cast<SegmentedControl*>(rn.control)) ||
             (style == PickerStyle::radioGroup && rn.control->property("radioGroup").toBool()));
        if (!styleMatches) {
            if (rn.control) {
                rn.control->hide();
                rn.control->deleteLater();
                rn.placed.clear();
            }
            rn.signature.clear();
            if (style == PickerStyle::menu) {
                auto* combo = new QComboBox;
                QObject::connect(combo, qOverload<int>(&QComboBox::activated), combo, choose);
                rn.control = combo;
            } else if (style == PickerStyle::segmented) {
                auto* segments = new SegmentedControl;
                segments->onActivated = choose;
                rn.control = segments;
            } else {
                auto* group = new BoxWidget;
                group->setProperty("radioGroup", true);
                auto* layout = new QVBoxLayout(group);
                layout->setContentsMargins(0, 0, 0, 0);
                layout->setSpacing(4);
                rn.control = group;
            }
        }
        const QFont font = fontOf(env);
        if (auto* combo = qobject_cast<QComboBox*>(rn.control)) {
            if (rn.signature != signature) {
                const QSignalBlocker block(combo);
                combo->clear();
                for (const Option& o : options) {
                    combo->addItem(iconOf(o.symbol, pal.color(QPalette::ButtonText)), o.title);
                    if (!o.enabled) {
                        if (auto* model = qobject_cast<QStandardItemModel*>(combo->model()))
                            model->item(combo->count() - 1)->setEnabled(false);
                    }
                }
            }
            if (combo->currentIndex() != index) {
                const QSignalBlocker block(combo);
                combo->setCurrentIndex(index);
            }
            if (combo->font() != font)
                combo->setFont(font);
        } else if (auto* segments = dynamic_cast<SegmentedControl*>(rn.control)) {
            std::vector<SegmentedControl::Segment> list;
            for (const Option& o : options) {
                list.push_back({o.title, o.symbol, o.enabled});
            }
            if (rn.signature != signature)
                segments->setSegments(list);
            segments->setSelectedIndex(index);
            segments->setControlSize(env.controlSize);
            if (segments->font() != font)
                segments->setFont(font);
        } else {
            auto* layout = static_cast<QVBoxLayout*>(rn.control->layout());
            if (rn.signature != signature) {
                while (QLayoutItem* item = layout->takeAt(0)) {
                    delete item->widget();
                    delete item;
                }
                for (std::size_t i = 0; i < options.size(); ++i) {
                    auto* radio = new QRadioButton(options[i].title);
                    radio->setAutoExclusive(false);
                    radio->setEnabled(options[i].enabled);
                    const int at = static_cast<int>(i);
                    QObject::connect(radio, &QRadioButton::clicked, radio,
                                     [choose, at, guard, self] {
                                         choose(at);
                                         if (!guard.expired())
                                             syncRadios(*self);
                                     });
                    layout->addWidget(radio);
                }
            }
            syncRadios(rn);
            for (int i = 0; i < layout->count(); ++i) {
                auto* radio = static_cast<QRadioButton*>(layout->itemAt(i)->widget());
                if (radio->font() != font)
                    radio->setFont(font);
            }
        }
        rn.signature = signature;
        const QString name = qs(localized(n.text));
        if (rn.control->accessibleName() != name)
            rn.control->setAccessibleName(name);
        rn.control->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        composeLabelled(
            rn, style == PickerStyle::segmented && n.text.empty() ? std::nullopt : ownLabel(n),
            rn.control, env);
    }

    void updateMenu(RNode& rn, const Node& n, const Env& env, const Env& childEnv) {
        auto* button = static_cast<ViewButton*>(rn.widget);
        ViewButton::Look look = ViewButton::Look::bordered;
        if (const auto* standard = std::get_if<StandardButtonStyle>(&env.buttonStyle)) {
            if (*standard == StandardButtonStyle::borderless ||
                *standard == StandardButtonStyle::plain)
                look = ViewButton::Look::borderless;
        }
        if (button->look() != look)
            button->setLook(look);
        Env labelEnv = childEnv;
        labelEnv.inButton = true;
        std::vector<Entry> entries;
        flatten(n.children, "", labelEnv, entries);
        reconcile(rn, std::move(entries), Axis::horizontal, Role::plain);
        auto* indicator = static_cast<SymbolWidget*>(rn.extras[0]);
        indicator->setSymbol("chevron.down", 9, foregroundOf(labelEnv), 0, 1);
        indicator->setAttribute(Qt::WA_TransparentForMouseEvents);
        std::vector<QWidget*> order;
        for (auto& child : rn.children)
            order.push_back(child->placedWidget());
        if (!n.menuIndicatorHidden)
            order.push_back(indicator);
        if (order != rn.placed) {
            auto* layout = static_cast<QBoxLayout*>(button->layout());
            clearLayout(layout);
            for (QWidget* w : order) {
                layout->addWidget(w, 0, Qt::AlignVCenter);
                w->show();
            }
            indicator->setVisible(!n.menuIndicatorHidden);
            rn.placed = order;
        }
        std::vector<std::string> signature;
        for (const MenuItem& item : n.menuItems) {
            signature.push_back(item.separator ? "\x1f—"
                                               : item.title + (item.disabled ? "\x1f-" : ""));
        }
        if (signature != rn.signature) {
            const QList<QAction*> actions = rn.menu->actions();
            const bool sameShape = actions.size() == static_cast<qsizetype>(n.menuItems.size());
            if (rn.menu->isVisible() && sameShape) {
                // An open menu keeps its actions; only their titles and states change.
                for (std::size_t i = 0; i < n.menuItems.size(); ++i) {
                    QAction* action = actions[static_cast<qsizetype>(i)];
                    action->setText(qs(localized(n.menuItems[i].title)));
                    action->setEnabled(!n.menuItems[i].disabled);
                }
            } else {
                rn.menu->clear();
                std::weak_ptr<char> guard = rn.token;
                RNode* self = &rn;
                for (std::size_t i = 0; i < n.menuItems.size(); ++i) {
                    const MenuItem& item = n.menuItems[i];
                    if (item.separator) {
                        rn.menu->addSeparator();
                        continue;
                    }
                    QAction* action = rn.menu->addAction(qs(localized(item.title)));
                    action->setEnabled(!item.disabled);
                    QObject::connect(action, &QAction::triggered, rn.menu, [guard, self, i] {
                        if (guard.expired())
                            return;
                        const auto& items = self->node().menuItems;
                        if (i < items.size() && items[i].action) {
                            auto fn = items[i].action;
                            fn();
                        }
                    });
                }
            }
            rn.signature = signature;
        }
        if (button->accessibleName().isEmpty() && !n.children.empty()) {
            button->setAccessibleName(textOf(n.children[0].node()));
        }
    }
};

QtRenderer::QtRenderer(ViewHost& host, QWidget& container)
    : impl_(std::make_unique<Impl>(host, container)) {
    impl_->evaluated = host.evaluated.subscribe([this] { render(); });
    impl_->watcher = new AppearanceWatcher(&container, [this] { render(); });
    container.installEventFilter(impl_->watcher);
    render();
}

QtRenderer::~QtRenderer() {
    impl_->evaluated.cancel();
    // The container may get new content: it is left as it was found.
    delete impl_->watcher;
    for (auto& child : impl_->root.children) {
        delete child->placedWidget();
    }
    delete impl_->container.layout();
}

void QtRenderer::render() {
    Impl& d = *impl_;
    ++d.renders;
    for (auto& cache : d.flexCache) {
        cache.clear();
    }
    if (QApplication::font() != d.baseFont) {
        d.baseFont = QApplication::font();
        d.fonts.clear();
    }
    const View tree = d.host.tree();
    std::vector<Impl::Entry> entries;
    d.flatten({tree}, "", Env{}, entries);
    d.reconcile(d.root, std::move(entries), Axis::vertical, Role::plain);
    std::vector<Qt::Alignment> flags;
    for (auto& child : d.root.children) {
        const Flex f = d.flex(child->node(), Axis::vertical);
        d.setPolicy(child->placedWidget(), f);
        flags.push_back((f.h ? Qt::Alignment() : Qt::AlignHCenter) |
                        (f.v ? Qt::Alignment() : Qt::AlignTop));
    }
    d.place(d.root, static_cast<QBoxLayout*>(d.container.layout()), flags);
    for (auto& cache : d.flexCache) {
        cache.clear();
    }
}

std::uint64_t QtRenderer::widgetsCreated() const {
    return impl_->created;
}

std::uint64_t QtRenderer::renderCount() const {
    return impl_->renders;
}

}  // namespace orvel::ui
