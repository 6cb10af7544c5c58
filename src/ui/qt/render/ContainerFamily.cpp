#include "ui/qt/render/Families.h"

#include "foundation/Localization.h"
#include "ui/ViewHost.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/BoxWidget.h"
#include "ui/qt/SegmentedControl.h"
#include "ui/qt/SeparatorLine.h"

#include <QBoxLayout>
#include <QEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvel::ui::render {

namespace {

void paintPanel(BoxWidget* panel, const PanelTone& tone) {
    panel->setBackground(tone.fill, Shape::rounded(kPanelCornerRadius));
    panel->setOverlay(tone.border, kPanelBorderWidth, Shape::rounded(kPanelCornerRadius));
}

// A fade with a chevron along the bottom of a scroll view while more lies below: a thin
// scroll bar alone is easily missed, and what is below may be a window's last commands.
class MoreBelow final : public QWidget {
  public:
    explicit MoreBelow(QScrollArea* area) : QWidget(area->viewport()), area_(area) {
        setObjectName(kMoreBelowName);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        area->viewport()->installEventFilter(this);
        QScrollBar* bar = area->verticalScrollBar();
        QObject::connect(bar, &QScrollBar::valueChanged, this, [this] { follow(); });
        QObject::connect(bar, &QScrollBar::rangeChanged, this, [this] { follow(); });
        follow();
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize)
            follow();
        return false;
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QPalette pal = RenderCore::palette();
        QColor ground = pal.color(QPalette::Window);
        QLinearGradient fade(0, 0, 0, height());
        ground.setAlpha(0);
        fade.setColorAt(0, ground);
        ground.setAlpha(235);
        fade.setColorAt(0.6, ground);
        fade.setColorAt(1, ground);
        p.fillRect(rect(), fade);
        const QPointF tip(width() / 2.0, height() - kMoreBelowChevronBottom);
        QPainterPath chevron;
        chevron.moveTo(tip + QPointF(-kMoreBelowChevronHalfWidth, -kMoreBelowChevronHeight));
        chevron.lineTo(tip);
        chevron.lineTo(tip + QPointF(kMoreBelowChevronHalfWidth, -kMoreBelowChevronHeight));
        p.strokePath(chevron, QPen(Appearance::named(NamedColor::secondaryLabel, pal), 2,
                                   Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }

  private:
    void follow() {
        const QWidget* port = area_->viewport();
        setGeometry(0, port->height() - kMoreBelowHeight, port->width(), kMoreBelowHeight);
        const QScrollBar* bar = area_->verticalScrollBar();
        const bool more = bar->value() < bar->maximum() - kScrolledToEndTolerance;
        if (more == isHidden())
            setVisible(more);
        raise();
    }

    QScrollArea* area_;
};

void checkScrolledToEnd(RenderNode& rn, QScrollArea* area) {
    if (rn.kind != NodeKind::scroll && rn.kind != NodeKind::list) {
        return;
    }
    QScrollBar* bar =
        rn.node().horizontalScroll ? area->horizontalScrollBar() : area->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum() - kScrolledToEndTolerance;
    if (atEnd && !rn.atEnd) {
        rn.atEnd = true;
        if (auto action = rn.node().onScrolledToEnd) {
            action();
        }
    } else if (!atEnd) {
        rn.atEnd = false;
    }
}

// Once Qt has laid the new content out: only then does the scroll range say where the end is.
void checkScrolledToEndLater(RenderNode& rn, QScrollArea* area) {
    QMetaObject::invokeMethod(
        area,
        [guard = weakRef(rn), area] {
            if (RenderNode* self = guard.get())
                checkScrolledToEnd(*self, area);
        },
        Qt::QueuedConnection);
}

// What a scroll view or form holds its content in: the scroll area's widget, or the box itself
// when it never scrolls.
QWidget* contentOf(QWidget* widget) {
    auto* area = qobject_cast<QScrollArea*>(widget);
    return area != nullptr ? area->widget() : widget;
}

void updateScroll(RenderCore& core, RenderNode& rn, const Node& n, const Env& childEnv) {
    auto* area = qobject_cast<QScrollArea*>(rn.widget);
    const Qt::ScrollBarPolicy shown =
        n.showsIndicators ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    if (area != nullptr) {
        area->setVerticalScrollBarPolicy(n.horizontalScroll ? Qt::ScrollBarAlwaysOff : shown);
        area->setHorizontalScrollBarPolicy(n.horizontalScroll ? shown : Qt::ScrollBarAlwaysOff);
    }
    const Axis axis = n.horizontalScroll ? Axis::horizontal : Axis::vertical;
    std::vector<Entry> entries;
    core.flatten(n.children, "", childEnv, entries);
    core.reconcile(rn, std::move(entries), axis, Role::plain);
    auto* layout = static_cast<QVBoxLayout*>(contentOf(rn.widget)->layout());
    std::vector<Qt::Alignment> flags;
    for (auto& child : rn.children) {
        const Flex f = core.flex(child->node(), Axis::none);
        core.setPolicy(child->placedWidget(), f);
        flags.push_back((f.h ? Qt::Alignment() : Qt::AlignLeft) |
                        (f.v ? Qt::Alignment() : Qt::AlignTop));
    }
    core.place(rn, layout, flags);
    if (area != nullptr)
        checkScrolledToEndLater(rn, area);
}

void updateForm(RenderCore& core, RenderNode& rn, const Node& n, const Env& childEnv) {
    std::vector<Entry> entries;
    core.flatten(n.children, "", childEnv, entries);
    core.reconcile(rn, std::move(entries), Axis::vertical, Role::sectionRow);
    auto* layout = static_cast<QVBoxLayout*>(contentOf(rn.widget)->layout());
    std::vector<Qt::Alignment> flags;
    bool fills = false;
    for (auto& child : rn.children) {
        const Flex f = core.flex(child->node(), Axis::vertical);
        // Never below its size hint: with no text that wraps, the scroll area sizes the sections
        // by their minimum, which squeezes their rows into the window instead of scrolling.
        QWidget* section = child->placedWidget();
        QSizePolicy policy = section->sizePolicy();
        policy.setHorizontalPolicy(QSizePolicy::Expanding);
        policy.setVerticalPolicy(f.v ? QSizePolicy::Expanding : QSizePolicy::Minimum);
        if (section->sizePolicy() != policy)
            section->setSizePolicy(policy);
        flags.push_back(Qt::Alignment());
        fills = fills || f.v;
    }
    core.place(rn, layout, flags);
    // Sections sit at the top with a stretch below them rather than by aligning the layout: an
    // aligned layout is never given more height than its size hint, which wrapped texts answer at
    // their one-line width, so their rows lost lines when the window was narrower.
    const int count = layout->count();
    const bool stretched = count > 0 && layout->itemAt(count - 1)->spacerItem() != nullptr;
    if (!fills && !stretched) {
        layout->addStretch(1);
    } else if (fills && stretched) {
        delete layout->takeAt(count - 1);
    }
}

// Section headers and footers live in two fixed slots after the rows' extras.
std::vector<std::shared_ptr<RenderNode>>& sectionSlots(RenderNode& rn) {
    if (!rn.inner) {
        rn.inner = std::make_shared<RenderNode>();
        rn.inner->children.resize(2);
    }
    return rn.inner->children;
}

void updateExtra(RenderCore& core, RenderNode& rn, std::size_t slot,
                 const std::optional<View>& view, const Env& env) {
    auto& extraSlots = sectionSlots(rn);
    std::shared_ptr<RenderNode>& holder = extraSlots[slot];
    if (!view || view->node().kind == NodeKind::empty) {
        if (holder) {
            core.discard(*holder);
            holder.reset();
        }
        return;
    }
    const std::string key =
        (slot == 0 ? "header:" : "footer:") + std::string(nodeKindName(view->node().kind));
    if (holder && holder->key != key) {
        core.discard(*holder);
        holder.reset();
    }
    if (!holder) {
        holder = std::make_shared<RenderNode>();
        holder->key = key;
        holder->kind = view->node().kind;
    }
    core.update(*holder, *view, env, Axis::vertical, Role::plain);
}

QWidget* headerWidget(RenderNode& rn) {
    auto& extraSlots = sectionSlots(rn);
    return extraSlots[0] ? extraSlots[0]->placedWidget() : nullptr;
}

QWidget* footerWidget(RenderNode& rn) {
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

void updateSection(RenderCore& core, RenderNode& rn, const Node& n, const Env& childEnv) {
    auto* box = static_cast<BoxWidget*>(rn.widget);
    auto* layout = static_cast<QVBoxLayout*>(box->layout());
    auto* panel = static_cast<BoxWidget*>(rn.extras[0]);
    const QPalette pal = core.palette();
    paintPanel(panel, Appearance::isDark(pal) ? kSectionPanelDark : kSectionPanelLight);

    // Rows first, then the header and footer beside them, keyed apart from the rows.
    std::vector<Entry> entries;
    core.flatten(n.children, "", childEnv, entries);
    core.reconcile(rn, std::move(entries), Axis::vertical, Role::sectionRow);

    Env headerEnv = childEnv;
    headerEnv.font = Font::system(kSectionHeaderFontSize, FontWeight::semibold);
    headerEnv.foreground = Hierarchy::secondary;
    headerEnv.uppercase = true;
    Env footerEnv = childEnv;
    footerEnv.font = Font::system(kSectionFooterFontSize);
    footerEnv.foreground = Hierarchy::secondary;
    updateExtra(core, rn, 0, n.header, headerEnv);
    updateExtra(core, rn, 1, n.footer, footerEnv);

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
        const auto divides = [&rn](std::size_t i) {
            return rn.children[i]->node().kind == NodeKind::divider;
        };
        for (std::size_t i = 0; i < order.size(); ++i) {
            if (i > 0 && !divides(i) && !divides(i - 1)) {
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

// Clicking anywhere in a row of a selecting list selects it, as a press does in a list view.
class RowPressFilter final : public QObject {
  public:
    RowPressFilter(QObject* parent, std::function<void()> onPress)
        : QObject(parent), onPress_(std::move(onPress)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress &&
            static_cast<QWidget*>(watched)->isEnabled()) {
            auto action = onPress_;
            action();
            return true;
        }
        return false;
    }

  private:
    std::function<void()> onPress_;
};

constexpr const char* kRowPressProperty = "orvelSelectsRow";

void selectOnPress(RenderNode& list, RenderNode& row) {
    QWidget* w = row.placedWidget();
    if (w->property(kRowPressProperty).toBool()) {
        return;
    }
    w->setProperty(kRowPressProperty, true);
    w->installEventFilter(new RowPressFilter(w, [list = weakRef(list), row = weakRef(row)] {
        RenderNode* self = list.get();
        RenderNode* pressed = row.get();
        if (self == nullptr || pressed == nullptr || !pressed->node().tag) {
            return;
        }
        auto binding = self->node().textBinding;
        if (binding.set) {
            binding.set(*pressed->node().tag);
        }
    }));
}

void updateList(RenderCore& core, RenderNode& rn, const Node& n, const Env& childEnv) {
    auto* area = static_cast<QScrollArea*>(rn.widget);
    auto* outerLayout = static_cast<QVBoxLayout*>(area->widget()->layout());
    auto* panel = static_cast<BoxWidget*>(outerLayout->itemAt(0)->widget());
    const QPalette pal = core.palette();
    // A selecting list is a sidebar's: rows on the window's own ground, without lines.
    const bool selecting = static_cast<bool>(n.textBinding.get);
    const std::optional<std::string> selected =
        selecting ? std::optional<std::string>(n.textBinding.get()) : std::nullopt;
    if (selecting) {
        panel->setBackground(std::nullopt);
        panel->setOverlay(std::nullopt);
    } else {
        paintPanel(panel,
                   {pal.color(QPalette::Base), Appearance::named(NamedColor::separator, pal)});
    }
    std::vector<Entry> entries;
    core.flatten(n.children, "", childEnv, entries);
    for (auto& entry : entries) {
        entry.env.truncates = selecting;
    }
    if (selected) {
        for (auto& entry : entries) {
            if (entry.view.node().tag == *selected) {
                entry.env.forcedForeground = pal.color(QPalette::HighlightedText);
            }
        }
    }
    core.reconcile(rn, std::move(entries), Axis::vertical, Role::listRow);
    auto* rows = static_cast<QVBoxLayout*>(panel->layout());
    const QMargins margins = selecting ? kSelectingListMargins : kListPanelMargins;
    if (rows->contentsMargins() != margins)
        rows->setContentsMargins(margins);
    std::vector<QWidget*> order;
    for (auto& child : rn.children) {
        order.push_back(child->placedWidget());
        if (selecting) {
            auto* row = static_cast<BoxWidget*>(child->placedWidget());
            const bool highlighted = child->node().tag == selected;
            row->setBackground(
                highlighted ? std::optional<QColor>(Appearance::named(NamedColor::accent, pal))
                            : std::nullopt,
                Shape::rounded(kSelectedRowCornerRadius));
            selectOnPress(rn, *child);
        }
    }
    if (order != rn.placed) {
        // Rows keep their widgets; only the lines between them are made anew.
        clearLayout(rows);
        std::size_t reused = 0;
        std::vector<QWidget*> lines;
        for (std::size_t i = 0; i < order.size(); ++i) {
            if (i > 0 && !selecting) {
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
        static_cast<SeparatorLine*>(line)->setColor(Appearance::named(NamedColor::separator, pal));
    }
    checkScrolledToEndLater(rn, area);
}

void updateTabs(RenderCore& core, RenderNode& rn, const Node& n, const Env& childEnv) {
    auto* bar = static_cast<SegmentedControl*>(rn.control);
    auto* panel = static_cast<BoxWidget*>(rn.extras[0]);
    auto* pages = static_cast<QStackedWidget*>(rn.extras[1]);
    const QPalette pal = core.palette();
    paintPanel(panel, Appearance::isDark(pal) ? kTabPanelDark : kTabPanelLight);
    // Pages are matched one to one with the tabs, so they are not flattened.
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < n.children.size(); ++i) {
        entries.push_back(Entry{childKey(n.children[i].node(), i), n.children[i], childEnv});
    }
    core.reconcile(rn, std::move(entries), Axis::vertical, Role::plain);
    std::vector<QWidget*> order;
    for (auto& child : rn.children) {
        core.setPolicy(child->placedWidget(), Flex{true, true});
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
    const QFont font = Appearance::font(Font::system(kTabFontSize), std::nullopt);
    if (bar->font() != font)
        bar->setFont(font);
    const int page = std::clamp(index, 0, std::max(0, pages->count() - 1));
    if (pages->count() > 0 && pages->currentIndex() != page)
        pages->setCurrentIndex(page);
}

QWidget* makeScrollArea(RenderNode& rn, const Node& n) {
    WeakRef<RenderNode> guard = weakRef(rn);
    RenderNode* self = &rn;
    auto* content = new BoxWidget;
    content->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (n.kind == NodeKind::form) {
        layout->setContentsMargins(kFormMargins);
        layout->setSpacing(kFormSectionSpacing);
    }
    if (n.scrollDisabled && n.kind != NodeKind::list) {
        return content;
    }
    auto* area = new QScrollArea;
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->viewport()->setAutoFillBackground(false);
    if (n.kind == NodeKind::form) {
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    if (n.kind == NodeKind::list) {
        auto* panel = new BoxWidget;
        auto* rows = new QVBoxLayout(panel);
        rows->setContentsMargins(kListPanelMargins);
        rows->setSpacing(0);
        layout->addWidget(panel);
        layout->addStretch(1);
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    area->setWidget(content);
    // The area's own background would hide what its container paints.
    content->setAutoFillBackground(false);
    area->setAutoFillBackground(false);
    auto check = [guard, self, area] {
        if (guard) {
            checkScrolledToEnd(*self, area);
        }
    };
    for (QScrollBar* bar : {area->verticalScrollBar(), area->horizontalScrollBar()}) {
        QObject::connect(bar, &QScrollBar::valueChanged, area, check);
        QObject::connect(bar, &QScrollBar::rangeChanged, area, check);
    }
    if (n.kind == NodeKind::scroll && !n.horizontalScroll && n.showsIndicators) {
        new MoreBelow(area);
    }
    return area;
}

QWidget* makeSection(RenderNode& rn) {
    auto* box = new BoxWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kSectionSpacing);
    auto* panel = new BoxWidget;
    auto* rows = new QVBoxLayout(panel);
    rows->setContentsMargins(kSectionPanelMargins);
    rows->setSpacing(0);
    panel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    rn.extras.push_back(panel);
    return box;
}

QWidget* makeTabView(RenderNode& rn) {
    WeakRef<RenderNode> guard = weakRef(rn);
    RenderNode* self = &rn;
    auto* box = new BoxWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kTabBarSpacing);
    auto* bar = new SegmentedControl;
    bar->setTabBar(true);
    layout->addWidget(bar, 0, Qt::AlignHCenter);
    auto* panel = new BoxWidget;
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(kTabPanelMargins);
    auto* pages = new QStackedWidget;
    panelLayout->addWidget(pages);
    layout->addWidget(panel, 1);
    rn.control = bar;
    rn.extras = {panel, pages};
    bar->onActivated = [guard, self, bar](int index) {
        if (!guard)
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
    return box;
}

QWidget* create(RenderCore&, RenderNode& rn, const Node& n, Axis) {
    switch (n.kind) {
        case NodeKind::scroll:
        case NodeKind::form:
        case NodeKind::list:
            return makeScrollArea(rn, n);
        case NodeKind::section:
            return makeSection(rn);
        case NodeKind::tabView:
            return makeTabView(rn);
        default:
            return nullptr;
    }
}

void update(RenderCore& core, RenderNode& rn, const Node& n, const Env&, const Env& childEnv,
            Axis) {
    switch (n.kind) {
        case NodeKind::scroll:
            updateScroll(core, rn, n, childEnv);
            break;
        case NodeKind::form:
            updateForm(core, rn, n, childEnv);
            break;
        case NodeKind::section:
            updateSection(core, rn, n, childEnv);
            break;
        case NodeKind::list:
            updateList(core, rn, n, childEnv);
            break;
        case NodeKind::tabView:
            updateTabs(core, rn, n, childEnv);
            break;
        default:
            break;
    }
}

}  // namespace

const Family kContainerFamily{create, update};

}  // namespace orvel::ui::render
