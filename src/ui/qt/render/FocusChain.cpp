#include "ui/qt/render/FocusChain.h"

#include <QLayout>
#include <QScrollArea>
#include <QWidget>

#include <algorithm>
#include <unordered_map>
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
    std::vector<QWidget*> children;
    if (QLayout* layout = parent.layout()) {
        addLaidOut(*layout, children);
    }
    std::vector<QWidget*> laidOut(children);
    std::sort(laidOut.begin(), laidOut.end());
    for (QObject* object : parent.children()) {
        if (!object->isWidgetType())
            continue;
        auto* child = static_cast<QWidget*>(object);
        if (!child->isWindow() && !std::binary_search(laidOut.begin(), laidOut.end(), child)) {
            children.push_back(child);
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
    if (order.size() < 2) {
        return;
    }
    std::unordered_map<QWidget*, std::size_t> place;
    place.reserve(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        place.emplace(order[i], i);
    }
    // Most renders change no structure: a chain already in order is left alone.
    std::size_t next = 0;
    QWidget* start = order.front();
    QWidget* w = start;
    do {
        if (auto found = place.find(w); found != place.end()) {
            if (found->second != next)
                break;
            ++next;
        }
        w = w->nextInFocusChain();
    } while (w != start && next < order.size());
    if (next == order.size()) {
        return;
    }
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

}  // namespace orvel::ui::render
