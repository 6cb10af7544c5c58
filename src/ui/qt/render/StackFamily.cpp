#include "ui/qt/render/Families.h"

#include "ui/qt/Appearance.h"
#include "ui/qt/BoxWidget.h"
#include "ui/qt/OverlayLayout.h"
#include "ui/qt/SeparatorLine.h"

#include <QBoxLayout>

#include <algorithm>
#include <cmath>
#include <vector>

namespace orvel::ui::render {

namespace {

// A column asks each row for its height at the column's own width, but lays a narrower row out
// at the row's greatest width, where its wrapped texts take more lines: a box answers for the
// width it will really get. A row of buttons too wide for its place flows on to more rows.
class BoundedBoxLayout final : public QBoxLayout {
  public:
    BoundedBoxLayout(Direction direction, QWidget* parent) : QBoxLayout(direction, parent) {
        setContentsMargins(0, 0, 0, 0);
    }

    void setFlows(bool flows) {
        if (flows_ != flows) {
            flows_ = flows;
            invalidate();
            if (parentWidget() != nullptr)
                remeasureAbove(parentWidget());
        }
    }

    bool hasHeightForWidth() const override { return flows_ || QBoxLayout::hasHeightForWidth(); }
    int heightForWidth(int width) const override {
        if (flows_) {
            return flowRows(bounded(width), nullptr);
        }
        return QBoxLayout::heightForWidth(bounded(width));
    }
    int minimumHeightForWidth(int width) const override {
        if (flows_) {
            return heightForWidth(width);
        }
        return QBoxLayout::minimumHeightForWidth(bounded(width));
    }
    // Flowing, a row is as narrow as its widest button.
    QSize minimumSize() const override {
        if (!flows_) {
            return QBoxLayout::minimumSize();
        }
        int width = 0, height = 0;
        for (int i = 0; i < count(); ++i) {
            const QSize least = itemAt(i)->minimumSize();
            width = std::max(width, least.width());
            height = std::max(height, least.height());
        }
        const QMargins m = contentsMargins();
        return {width + m.left() + m.right(), height + m.top() + m.bottom()};
    }
    void setGeometry(const QRect& rect) override {
        if (!flows_ || rect.width() >= QBoxLayout::sizeHint().width()) {
            QBoxLayout::setGeometry(rect);
            return;
        }
        QLayout::setGeometry(rect);
        flowRows(rect.width(), &rect);
    }

  private:
    int bounded(int width) const {
        const QWidget* box = parentWidget();
        if (box == nullptr) {
            return width;
        }
        const QMargins m = box->contentsMargins();
        const int side = m.left() + m.right();
        return std::clamp(width, box->minimumWidth() - side,
                          std::max(box->minimumWidth(), box->maximumWidth()) - side);
    }

    // Where the row stands in what holds it, through the boxes that hold only it.
    Qt::Alignment rowAlignment() const {
        for (QWidget* box = parentWidget(); box != nullptr && box->parentWidget() != nullptr;
             box = box->parentWidget()) {
            QLayout* holder = box->parentWidget()->layout();
            const int index = holder != nullptr ? holder->indexOf(box) : -1;
            if (index < 0) {
                break;
            }
            const Qt::Alignment a = holder->itemAt(index)->alignment() & Qt::AlignHorizontal_Mask;
            if (a != Qt::Alignment() || holder->count() != 1) {
                return a;
            }
        }
        return Qt::AlignLeft;
    }

    // The height of the rows at `width`; with `rect`, the items placed in them.
    int flowRows(int width, const QRect* rect) const {
        const QMargins m = contentsMargins();
        const int room = width - m.left() - m.right();
        const int gap = spacing();
        const int rowGap = std::min(gap, static_cast<int>(kDefaultStackSpacing));
        std::vector<std::vector<QLayoutItem*>> rows(1);
        int used = 0;
        for (int i = 0; i < count(); ++i) {
            QLayoutItem* item = itemAt(i);
            if (item->isEmpty()) {
                continue;
            }
            const int w = item->sizeHint().width();
            if (!rows.back().empty() && used + gap + w > room) {
                rows.emplace_back();
                used = 0;
            }
            used += (rows.back().empty() ? 0 : gap) + w;
            rows.back().push_back(item);
        }
        const Qt::Alignment placing = rect != nullptr ? rowAlignment() : Qt::Alignment();
        int y = m.top();
        for (const auto& row : rows) {
            int rowWidth = 0, rowHeight = 0;
            for (QLayoutItem* item : row) {
                rowWidth += (rowWidth == 0 ? 0 : gap) + item->sizeHint().width();
                rowHeight = std::max(rowHeight, item->sizeHint().height());
            }
            if (rect != nullptr) {
                int x = m.left() + (placing & Qt::AlignRight     ? room - rowWidth
                                    : placing & Qt::AlignHCenter ? (room - rowWidth) / 2
                                                                 : 0);
                for (QLayoutItem* item : row) {
                    const QSize size = item->sizeHint();
                    const Qt::Alignment v = item->alignment();
                    const int top = v & Qt::AlignTop      ? 0
                                    : v & Qt::AlignBottom ? rowHeight - size.height()
                                                          : (rowHeight - size.height()) / 2;
                    item->setGeometry(QRect(rect->x() + std::min(x, room), rect->y() + y + top,
                                            std::min(size.width(), room), size.height()));
                    x += size.width() + gap;
                }
            }
            y += rowHeight + rowGap;
        }
        return y - rowGap + m.bottom();
    }

    bool flows_ = false;
};

// Only buttons flow: texts wrap instead, and spacers or fields would have no row to stand in.
bool flowable(const RenderNode& stack) {
    if (stack.kind != NodeKind::hstack || stack.children.size() < 2) {
        return false;
    }
    return std::all_of(stack.children.begin(), stack.children.end(), [](const auto& child) {
        return child->kind == NodeKind::button || child->kind == NodeKind::menu;
    });
}

// The least width a cell's frame gives it.
int framedWidth(const RenderNode& cell) {
    if (cell.kind != NodeKind::frame) {
        return 0;
    }
    const Frame& f = cell.node().frameValue;
    const auto least = f.width ? f.width : f.minWidth;
    return least ? static_cast<int>(std::min<double>(*least, QWIDGETSIZE_MAX)) : 0;
}

// What a cell asks for of its own: its content's width, or more where its frame says so.
int ownWidth(const RenderNode& cell) {
    return std::max(cell.placedWidget()->sizeHint().width(), framedWidth(cell));
}

// Each cell but a row's last takes the width of the widest cell in its place.
void alignColumns(RenderNode& stack) {
    std::vector<std::vector<RenderNode*>> rows;
    std::vector<int> widths;
    for (auto& child : stack.children) {
        RenderNode* row = child.get();
        while (isWrapper(row->kind) && row->children.size() == 1) {
            row = row->children[0].get();
        }
        if (row->kind != NodeKind::hstack) {
            continue;
        }
        std::vector<RenderNode*>& cells = rows.emplace_back();
        for (std::size_t i = 0; i < row->children.size(); ++i) {
            cells.push_back(row->children[i].get());
            if (i + 1 < row->children.size()) {
                widths.resize(std::max(widths.size(), i + 1), 0);
                widths[i] = std::max(widths[i], ownWidth(*row->children[i]));
            }
        }
    }
    for (const auto& cells : rows) {
        for (std::size_t i = 0; i + 1 < cells.size(); ++i) {
            cells[i]->columnWidth = widths[i];
            QWidget* cell = cells[i]->placedWidget();
            const int least = std::max(widths[i], framedWidth(*cells[i]));
            if (cell->minimumWidth() != least) {
                cell->setMinimumWidth(least);
                remeasureAbove(cell);
            }
        }
    }
}

void updateStack(RenderCore& core, RenderNode& rn, const Node& n, const Env& childEnv) {
    const bool vertical = n.kind != NodeKind::hstack;
    const Axis axis = vertical ? Axis::vertical : Axis::horizontal;
    std::vector<Entry> entries;
    core.flatten(n.children, "", childEnv, entries);
    core.reconcile(rn, std::move(entries), axis, Role::plain);
    auto* layout = static_cast<QBoxLayout*>(rn.widget->layout());
    const int spacing = static_cast<int>(n.spacing.value_or(kDefaultStackSpacing));
    if (layout->spacing() != spacing)
        layout->setSpacing(spacing);
    std::vector<Qt::Alignment> flags;
    flags.reserve(rn.children.size());
    for (auto& child : rn.children) {
        const Flex f = core.flex(child->node(), axis);
        core.setPolicy(child->placedWidget(), f);
        if (vertical) {
            flags.push_back(f.h ? Qt::Alignment() : hFlag(n.hAlign));
        } else {
            flags.push_back(f.v ? Qt::Alignment() : vFlag(n.vAlign));
        }
    }
    core.place(rn, layout, flags);
    static_cast<BoundedBoxLayout*>(layout)->setFlows(flowable(rn));
    if (vertical && n.alignsColumns)
        alignColumns(rn);
}

void updateZStack(RenderCore& core, RenderNode& rn, const Node& n, const Env& childEnv) {
    std::vector<Entry> entries;
    core.flatten(n.children, "", childEnv, entries);
    core.reconcile(rn, std::move(entries), Axis::none, Role::plain);
    auto* layout = static_cast<OverlayLayout*>(rn.widget->layout());
    std::vector<QWidget*> order;
    for (auto& child : rn.children) {
        core.setPolicy(child->placedWidget(), core.flex(child->node(), Axis::none));
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

// Padding, frames, fixed sizes, backgrounds and strokes: one box around the wrapped view.
void updateWrapper(RenderCore& core, RenderNode& rn, const Node& n, const Env& childEnv,
                   Axis axis) {
    auto* box = static_cast<BoxWidget*>(rn.widget);
    auto* layout = static_cast<QBoxLayout*>(box->layout());
    std::vector<Entry> entries;
    core.flatten(n.children, "", childEnv, entries);
    core.reconcile(rn, std::move(entries), axis, Role::plain);
    const QPalette pal = core.palette();
    QMargins margins;
    if (n.kind == NodeKind::padding) {
        margins = QMargins(static_cast<int>(n.insets.leading), static_cast<int>(n.insets.top),
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
        const Flex f = core.flex(child->node(), Axis::none);
        core.setPolicy(child->placedWidget(), f);
        Qt::Alignment a;
        if (n.kind == NodeKind::frame) {
            if (!f.h)
                a |= hFlag(n.frameValue.alignment.horizontal);
            if (!f.v)
                a |= vFlag(n.frameValue.alignment.vertical);
        }
        flags.push_back(a);
    }
    core.place(rn, layout, flags);
    if (n.kind == NodeKind::frame) {
        const Frame& f = n.frameValue;
        const auto px = [](double v) {
            return std::isinf(v) ? QWIDGETSIZE_MAX
                                 : static_cast<int>(std::min<double>(v, QWIDGETSIZE_MAX));
        };
        const int minW = std::max(f.width      ? px(*f.width)
                                  : f.minWidth ? px(*f.minWidth)
                                               : 0,
                                  rn.columnWidth);
        const int maxW = std::max(minW, f.width      ? px(*f.width)
                                        : f.maxWidth ? px(*f.maxWidth)
                                                     : QWIDGETSIZE_MAX);
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

Qt::Orientation dividerOrientation(Axis axis) {
    // A divider crosses its stack: upright in a row, flat in a column.
    return axis == Axis::horizontal ? Qt::Vertical : Qt::Horizontal;
}

QWidget* create(RenderCore&, RenderNode&, const Node& n, Axis axis) {
    switch (n.kind) {
        case NodeKind::group:
        case NodeKind::component:
        case NodeKind::vstack:
        case NodeKind::hstack: {
            auto* box = new BoxWidget;
            new BoundedBoxLayout(
                n.kind == NodeKind::hstack ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom,
                box);
            return box;
        }
        case NodeKind::zstack: {
            auto* box = new BoxWidget;
            new OverlayLayout(box);
            return box;
        }
        case NodeKind::padding:
        case NodeKind::frame:
        case NodeKind::fixedSize:
        case NodeKind::background:
        case NodeKind::overlay: {
            auto* box = new BoxWidget;
            new BoundedBoxLayout(QBoxLayout::TopToBottom, box);
            return box;
        }
        case NodeKind::divider:
            return new SeparatorLine(dividerOrientation(axis));
        case NodeKind::spacer:
            return new QWidget;
        default:
            return nullptr;
    }
}

void update(RenderCore& core, RenderNode& rn, const Node& n, const Env&, const Env& childEnv,
            Axis axis) {
    switch (n.kind) {
        case NodeKind::group:
        case NodeKind::component:
        case NodeKind::vstack:
        case NodeKind::hstack:
            updateStack(core, rn, n, childEnv);
            break;
        case NodeKind::zstack:
            updateZStack(core, rn, n, childEnv);
            break;
        case NodeKind::padding:
        case NodeKind::frame:
        case NodeKind::fixedSize:
        case NodeKind::background:
        case NodeKind::overlay:
            updateWrapper(core, rn, n, childEnv, axis);
            break;
        case NodeKind::divider:
            static_cast<SeparatorLine*>(rn.widget)->setOrientation(dividerOrientation(axis));
            static_cast<SeparatorLine*>(rn.widget)->setColor(
                Appearance::named(NamedColor::separator, core.palette()));
            break;
        case NodeKind::spacer: {
            const int minimum = static_cast<int>(n.spacing.value_or(kDefaultSpacerLength));
            rn.widget->setMinimumSize(axis == Axis::vertical ? 0 : minimum,
                                      axis == Axis::horizontal ? 0 : minimum);
            break;
        }
        default:
            break;
    }
}

}  // namespace

const Family kStackFamily{create, update};

}  // namespace orvel::ui::render
