#include "ui/qt/SymbolWidget.h"

#include <QPainter>

#include "ui/qt/SymbolSet.h"

namespace orvel::ui {

SymbolWidget::SymbolWidget(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolWidget::setSymbol(const std::string& name, int side, QColor color, double rotation,
                             double opacity) {
    if (name == name_ && side == side_ && color == color_ && rotation == rotation_ &&
        opacity == opacity_) {
        return;
    }
    const bool resized = side != side_;
    name_ = name;
    side_ = side;
    color_ = color;
    rotation_ = rotation;
    opacity_ = opacity;
    if (resized) {
        updateGeometry();
    }
    update();
}

void SymbolWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setOpacity(opacity_);
    const int side = std::min(width(), height());
    const QRectF box((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    SymbolSet::shared().paint(painter, box, name_, isEnabled() ? color_ : [&] {
        QColor faded = color_;
        faded.setAlphaF(faded.alphaF() * 0.4f);
        return faded;
    }(), rotation_);
}

}  // namespace orvel::ui
