#include "ui/qt/ShapeWidget.h"

#include <QPainter>

namespace orvel::ui {

ShapeWidget::ShapeWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void ShapeWidget::setLook(const Shape& shape, QColor fill, QColor stroke, double lineWidth,
                          double opacity) {
    if (shape == shape_ && fill == fill_ && stroke == stroke_ && lineWidth == lineWidth_ &&
        opacity == opacity_) {
        return;
    }
    shape_ = shape;
    fill_ = fill;
    stroke_ = stroke;
    lineWidth_ = lineWidth;
    opacity_ = opacity;
    update();
}

QPainterPath ShapeWidget::path(const Shape& shape, const QRectF& rect) {
    QPainterPath p;
    switch (shape.kind) {
        case ShapeKind::rectangle:
            p.addRect(rect);
            break;
        case ShapeKind::roundedRectangle: {
            const double r = std::min({shape.cornerRadius, rect.width() / 2, rect.height() / 2});
            p.addRoundedRect(rect, r, r);
            break;
        }
        case ShapeKind::capsule: {
            const double r = std::min(rect.width(), rect.height()) / 2;
            p.addRoundedRect(rect, r, r);
            break;
        }
        case ShapeKind::circle: {
            const double side = std::min(rect.width(), rect.height());
            p.addEllipse(
                QRectF(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side));
            break;
        }
        case ShapeKind::ellipse:
            p.addEllipse(rect);
            break;
    }
    return p;
}

void ShapeWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity_);
    const double inset = stroke_.isValid() ? lineWidth_ / 2 : 0;
    const QPainterPath outline =
        path(shape_, QRectF(rect()).adjusted(inset, inset, -inset, -inset));
    if (fill_.isValid()) {
        painter.fillPath(outline, fill_);
    }
    if (stroke_.isValid()) {
        painter.strokePath(outline, QPen(stroke_, lineWidth_));
    }
}

}  // namespace orvel::ui
