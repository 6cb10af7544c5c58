#include "ui/qt/SeparatorLine.h"

#include <QPainter>

namespace orvel::ui {

SeparatorLine::SeparatorLine(Qt::Orientation orientation, QWidget* parent)
    : QWidget(parent), orientation_(orientation) {
    setOrientation(orientation);
}

void SeparatorLine::setOrientation(Qt::Orientation orientation) {
    orientation_ = orientation;
    if (orientation == Qt::Horizontal) {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setFixedHeight(1);
        setMinimumWidth(1);
        setMaximumWidth(QWIDGETSIZE_MAX);
    } else {
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        setFixedWidth(1);
        setMinimumHeight(1);
        setMaximumHeight(QWIDGETSIZE_MAX);
    }
    updateGeometry();
}

void SeparatorLine::setColor(QColor color) {
    if (color != color_) {
        color_ = color;
        update();
    }
}

QSize SeparatorLine::sizeHint() const {
    return orientation_ == Qt::Horizontal ? QSize(16, 1) : QSize(1, 16);
}

void SeparatorLine::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), color_);
}

}  // namespace orvel::ui
