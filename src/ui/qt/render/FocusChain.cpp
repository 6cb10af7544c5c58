#include "ui/qt/render/FocusChain.h"

#include <QLayout>
#include <QScrollArea>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace orvel::ui::render {

namespace {

void addLaidOut(QLayout& layout, std::vector<QWidget*>& out) {
    for (int i = 0; i < layout.count(); ++i) {
        QLayoutItem* item = layout.itemAt(i);
        if (QWidget* w = item->widget()) {
            out.push_back(w);
        } else if (QLayout* inner = item->layout()) {
            addLaidOut(*inner, out);
        }
    }
}

// A widget's children as they read: those of its layout in the layout's order, then the others
// (a scroll area's viewport, a stack's hidden pages) in the order they were made.
void collect(QWidget& parent, std::vector<QWidget*>& out) {
    const QObjectList& objects = parent.children();
    if (objects.isEmpty()) {
        return;
    }
    std::vector<QWidget*> children;
    if (QLayout* layout = parent.layout()) {
        addLaidOut(*layout, children);
    }
    const auto isChildWidget = [](const QObject* object) {
        return object->isWidgetType() && !static_cast<const QWidget*>(object)->isWindow();
    };
    // Most boxes hold only what their layout does.
    const auto widgets =
        static_cast<std::size_t>(std::count_if(objects.begin(), objects.end(), isChildWidget));
    if (widgets > children.size()) {
        std::vector<QWidget*> laidOut(children);
        std::sort(laidOut.begin(), laidOut.end());
        for (QObject* object : objects) {
            auto* child = static_cast<QWidget*>(object);
            if (isChildWidget(object) &&
                !std::binary_search(laidOut.begin(), laidOut.end(), child)) {
                children.push_back(child);
            }
        }
    }
    for (QWidget* child : children) {
        const std::size_t at = out.size();
        // A widget that hands its focus to another is passed over by Tab; its proxy is not.
        if (child->focusPolicy() != Qt::NoFocus && child->focusProxy() == nullptr) {
            out.push_back(child);
        }
        collect(*child, out);
        // A scroll view stops Tab only when nothing inside it does: its text can still be scrolled
        // from the keyboard, and Tab does not halt on an empty frame around controls.
        if (auto* area = qobject_cast<QScrollArea*>(child)) {
            bool holdsControls = false;
            for (std::size_t i = at; i < out.size() && !holdsControls; ++i) {
                holdsControls = out[i] != area && (out[i]->focusPolicy() & Qt::TabFocus);
            }
            const Qt::FocusPolicy policy = holdsControls ? Qt::ClickFocus : Qt::StrongFocus;
            if (area->focusPolicy() != policy)
                area->setFocusPolicy(policy);
        }
    }
}

}  // namespace

void orderFocusChain(QWidget& container) {
    std::vector<QWidget*> order;
    collect(container, order);
    // Each step costs little when the pair is in order already, as after most renders.
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

}  // namespace orvel::ui::render
