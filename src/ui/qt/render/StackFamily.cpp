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
// width it will really get.
class BoundedBoxLayout final : public QBoxLayout {
  public:
    BoundedBoxLayout(Direction direction, QWidget* parent) : QBoxLayout(direction, parent) {
        setContentsMargins(0, 0, 0, 0);
    }

    int heightForWidth(int width) const override {
        return QBoxLayout::heightForWidth(bounded(width));
    }
    int minimumHeightForWidth(int width) const override {
        return QBoxLayout::minimumHeightForWidth(bounded(width));
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
};

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
        const int minW = f.width ? px(*f.width) : f.minWidth ? px(*f.minWidth) : 0;
        const int maxW = f.width ? px(*f.width) : f.maxWidth ? px(*f.maxWidth) : QWIDGETSIZE_MAX;
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
