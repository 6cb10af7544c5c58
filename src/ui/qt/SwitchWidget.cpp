#include "ui/qt/SwitchWidget.h"

#include <QPainter>
#include <QPainterPath>

#include "ui/qt/Appearance.h"

namespace orvel::ui {

SwitchWidget::SwitchWidget(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

void SwitchWidget::setControlSize(ControlSize size) {
    if (size != size_) {
        size_ = size;
        updateGeometry();
    }
}

QSize SwitchWidget::sizeHint() const {
    switch (size_) {
        case ControlSize::mini:
            return {24, 14};
        case ControlSize::small:
            return {28, 16};
        case ControlSize::regular:
            return {34, 20};
        case ControlSize::large:
            return {40, 24};
    }
    return {34, 20};
}

void SwitchWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QSize hint = sizeHint();
    const QRectF track(0.5, (height() - hint.height()) / 2.0 + 0.5, hint.width() - 1.0,
                       hint.height() - 1.0);
    const double radius = track.height() / 2;
    const QPalette& pal = palette();
    const bool dark = Appearance::isDark(pal);
    QColor off = dark ? QColor(255, 255, 255, 46) : QColor(0, 0, 0, 30);
    QColor on = pal.color(QPalette::Active, QPalette::Highlight);
    if (isDown()) {
        on = on.darker(112);
        off = dark ? QColor(255, 255, 255, 70) : QColor(0, 0, 0, 48);
    }
    if (!isEnabled()) {
        p.setOpacity(0.45);
    }
    p.setPen(QPen(dark ? QColor(0, 0, 0, 60) : QColor(0, 0, 0, 36), 1));
    p.setBrush(isChecked() ? on : off);
    p.drawRoundedRect(track, radius, radius);

    const double knob = track.height() - 4;
    const double x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    const QRectF knobRect(x, track.top() + 2, knob, knob);
    p.setPen(QPen(QColor(0, 0, 0, 40), 0.8));
    p.setBrush(dark ? QColor(0xEE, 0xEE, 0xEE) : Qt::white);
    p.drawEllipse(knobRect);
    if (hasFocus()) {
        p.setBrush(Qt::NoBrush);
        QColor ring = pal.color(QPalette::Highlight);
        ring.setAlpha(110);
        p.setPen(QPen(ring, 2));
        p.drawRoundedRect(track.adjusted(-1.5, -1.5, 1.5, 1.5), radius + 1.5, radius + 1.5);
    }
}

}  // namespace orvel::ui
