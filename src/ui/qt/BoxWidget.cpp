#include "ui/qt/BoxWidget.h"

#include <QChildEvent>
#include <QPainter>

#include "ui/qt/ShapeWidget.h"

namespace orvel::ui {

// Drawn above the content, and never in the way of the mouse.
class BoxWidget::Overlay final : public QWidget {
  public:
    explicit Overlay(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_TranslucentBackground);
    }
    QColor color;
    double lineWidth = 1;
    Shape shape;
    double opacity = 1;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setOpacity(opacity);
        const double inset = lineWidth / 2;
        p.strokePath(
            ShapeWidget::path(shape, QRectF(rect()).adjusted(inset, inset, -inset, -inset)),
            QPen(color, lineWidth));
    }
};

BoxWidget::BoxWidget(QWidget* parent) : QWidget(parent) {}

BoxWidget::~BoxWidget() = default;

void BoxWidget::setBackground(std::optional<QColor> color, Shape shape) {
    if (color == background_ && shape == backgroundShape_) {
        return;
    }
    background_ = color;
    backgroundShape_ = shape;
    update();
}

void BoxWidget::setOverlay(std::optional<QColor> color, double lineWidth, Shape shape) {
    if (!color) {
        delete overlay_;
        overlay_ = nullptr;
        return;
    }
    if (overlay_ != nullptr && overlay_->color == *color && overlay_->lineWidth == lineWidth &&
        overlay_->shape == shape) {
        return;
    }
    if (overlay_ == nullptr) {
        overlay_ = new Overlay(this);
        overlay_->setGeometry(rect());
        overlay_->show();
    }
    overlay_->color = *color;
    overlay_->lineWidth = lineWidth;
    overlay_->shape = shape;
    overlay_->opacity = opacity_;
    overlay_->raise();
    overlay_->update();
}

void BoxWidget::setPaintOpacity(double opacity) {
    if (opacity != opacity_) {
        opacity_ = opacity;
        if (overlay_) {
            overlay_->opacity = opacity;
            overlay_->update();
        }
        update();
    }
}

void BoxWidget::paintEvent(QPaintEvent*) {
    if (!background_ || background_->alpha() == 0) {
        return;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(opacity_);
    p.fillPath(ShapeWidget::path(backgroundShape_, QRectF(rect())), *background_);
}

void BoxWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (overlay_) {
        overlay_->setGeometry(rect());
    }
}

void BoxWidget::childEvent(QChildEvent* event) {
    QWidget::childEvent(event);
    // Content added later must not cover the stroke.
    if (overlay_ && event->added() && event->child() != overlay_) {
        overlay_->raise();
    }
}

}  // namespace orvel::ui
