#include "ui/qt/StepperArrows.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/qt/Appearance.h"

namespace orvel::ui {

StepperArrows::StepperArrows(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StepperArrows::setLimits(bool canStepUp, bool canStepDown) {
    if (canStepUp != up_ || canStepDown != down_) {
        up_ = canStepUp;
        down_ = canStepDown;
        update();
    }
}

void StepperArrows::setValue(double value, double minimum, double maximum, double stepSize) {
    minimum_ = minimum;
    maximum_ = maximum;
    stepSize_ = stepSize;
    if (value != value_) {
        value_ = value;
        QAccessibleValueChangeEvent event(this, value);
        QAccessible::updateAccessibility(&event);
    }
}

void StepperArrows::setControlSize(ControlSize size) {
    if (size != size_) {
        size_ = size;
        updateGeometry();
    }
}

QSize StepperArrows::sizeHint() const {
    return size_ == ControlSize::mini    ? QSize(11, 16)
           : size_ == ControlSize::small ? QSize(13, 19)
           : size_ == ControlSize::large ? QSize(17, 28)
                                         : QSize(15, 23);
}

void StepperArrows::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const bool dark = Appearance::isDark(pal);
    const QSize hint = sizeHint();
    const QRectF frame(0.5, (height() - hint.height()) / 2.0 + 0.5, hint.width() - 1.0,
                       hint.height() - 1.0);
    if (!isEnabled()) {
        p.setOpacity(0.45);
    }
    p.setPen(QPen(dark ? QColor(0, 0, 0, 90) : QColor(0, 0, 0, 50), 1));
    p.setBrush(pal.color(QPalette::Button));
    p.drawRoundedRect(frame, 4, 4);
    const double mid = frame.center().y();
    if (pressed_ != 0) {
        QPainterPath clip;
        clip.addRoundedRect(frame, 4, 4);
        p.save();
        p.setClipPath(clip);
        const QRectF half =
            pressed_ > 0 ? QRectF(frame.left(), frame.top(), frame.width(), mid - frame.top())
                         : QRectF(frame.left(), mid, frame.width(), frame.bottom() - mid);
        p.fillRect(half, dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 30));
        p.restore();
    }
    p.setPen(QPen(dark ? QColor(255, 255, 255, 30) : QColor(0, 0, 0, 25), 1));
    p.drawLine(QPointF(frame.left() + 2, mid), QPointF(frame.right() - 2, mid));
    const double w = frame.width() * 0.28;
    const double h = frame.height() * 0.11;
    const double cx = frame.center().x();
    auto chevron = [&](double cy, int direction, bool enabled) {
        QColor c = pal.color(QPalette::ButtonText);
        c.setAlphaF(enabled ? 0.85f : 0.3f);
        p.setPen(QPen(c, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath path;
        path.moveTo(cx - w, cy + direction * h);
        path.lineTo(cx, cy - direction * h);
        path.lineTo(cx + w, cy + direction * h);
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    };
    chevron(frame.top() + (mid - frame.top()) / 2 + 0.5, 1, up_);
    chevron(mid + (frame.bottom() - mid) / 2 - 0.5, -1, down_);
}

void StepperArrows::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->position().y() < height() / 2.0 ? 1 : -1;
    update();
}

void StepperArrows::mouseReleaseEvent(QMouseEvent* event) {
    const int was = std::exchange(pressed_, 0);
    update();
    if (was != 0 && rect().contains(event->position().toPoint())) {
        step(was);
    }
}

void StepperArrows::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up) {
        step(1);
    } else if (event->key() == Qt::Key_Down) {
        step(-1);
    } else {
        QWidget::keyPressEvent(event);
    }
}

void StepperArrows::step(int direction) {
    if ((direction > 0 ? up_ : down_) && onStep) {
        auto handler = onStep;
        handler(direction);
    }
}

}  // namespace orvel::ui
