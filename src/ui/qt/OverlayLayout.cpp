#include "ui/qt/OverlayLayout.h"

#include <algorithm>

#include <QWidget>

namespace orvel::ui {

OverlayLayout::OverlayLayout(QWidget* parent) : QLayout(parent) {
    setContentsMargins(0, 0, 0, 0);
}

OverlayLayout::~OverlayLayout() {
    while (QLayoutItem* item = takeAt(0)) {
        delete item;
    }
}

void OverlayLayout::addItem(QLayoutItem* item) {
    items_.push_back(item);
    invalidate();
}

QLayoutItem* OverlayLayout::itemAt(int index) const {
    return index >= 0 && index < count() ? items_[static_cast<std::size_t>(index)] : nullptr;
}

QLayoutItem* OverlayLayout::takeAt(int index) {
    if (index < 0 || index >= count()) {
        return nullptr;
    }
    QLayoutItem* item = items_[static_cast<std::size_t>(index)];
    items_.erase(items_.begin() + index);
    invalidate();
    return item;
}

QSize OverlayLayout::sizeHint() const {
    QSize size(0, 0);
    for (QLayoutItem* item : items_) {
        if (!item->isEmpty()) {
            size = size.expandedTo(item->sizeHint());
        }
    }
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize OverlayLayout::minimumSize() const {
    QSize size(0, 0);
    for (QLayoutItem* item : items_) {
        if (!item->isEmpty()) {
            size = size.expandedTo(item->minimumSize());
        }
    }
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

Qt::Orientations OverlayLayout::expandingDirections() const {
    Qt::Orientations directions;
    for (QLayoutItem* item : items_) {
        directions |= item->expandingDirections();
    }
    return directions;
}

void OverlayLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    const QRect area = contentsRect();
    for (QLayoutItem* item : items_) {
        if (item->isEmpty()) {
            continue;
        }
        const Qt::Orientations expands = item->expandingDirections();
        const Qt::Alignment at = item->alignment() ? item->alignment() : alignment();
        QSize size = item->sizeHint().boundedTo(area.size());
        if (expands & Qt::Horizontal) {
            size.setWidth(area.width());
        }
        if (expands & Qt::Vertical) {
            size.setHeight(area.height());
        } else if (item->hasHeightForWidth()) {
            // Wrapped text needs more height at the width it gets than at its one-line width.
            size.setHeight(std::min(area.height(), item->heightForWidth(size.width())));
        }
        size = size.boundedTo(item->maximumSize()).expandedTo(item->minimumSize());
        int x = area.left() + (area.width() - size.width()) / 2;
        int y = area.top() + (area.height() - size.height()) / 2;
        if (at & Qt::AlignLeft)
            x = area.left();
        if (at & Qt::AlignRight)
            x = area.right() + 1 - size.width();
        if (at & Qt::AlignTop)
            y = area.top();
        if (at & Qt::AlignBottom)
            y = area.bottom() + 1 - size.height();
        item->setGeometry(QRect(QPoint(x, y), size));
    }
}

}  // namespace orvel::ui
