#include "ui/qt/SwitchWidget.h"

#include <QPainter>
#include <QPainterPath>

#include "ui/qt/Appearance.h"

#include <algorithm>

namespace orvel::ui {

namespace {

// The track, on or off, is what shows a switch is there: moved off its ground (lighter on a dark
// one, darker on a light one) until it stands at 3:1 against it, as any control's parts must.
QColor standingOut(const QColor& colour, const QColor& ground, bool dark) {
    constexpr double kRatio = 3.0;
    float hue = 0, saturation = 0, lightness = 0, alpha = 1;
    colour.getHslF(&hue, &saturation, &lightness, &alpha);
    hue = std::max(hue, 0.0f);  // a grey has none
    const float towards = dark ? 0.01f : -0.01f;
    QColor shade = colour;
    for (int step = 1; step <= 100 && Appearance::contrast(shade, ground) < kRatio; ++step) {
        shade = QColor::fromHslF(
            hue, saturation,
            std::clamp(lightness + towards * static_cast<float>(step), 0.0f, 1.0f));
    }
    return shade;
}

}  // namespace

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
    // The hardest of the grounds a switch sits on: grouped boxes, and boxes within those, stand a
    // shade off the window.
    const QColor ground =
        dark ? pal.color(QPalette::Window).lighter(130) : pal.color(QPalette::Window).darker(108);
    QColor off = standingOut(ground, ground, dark);
    QColor on = standingOut(pal.color(QPalette::Active, QPalette::Highlight), ground, dark);
    if (isDown()) {
        on = on.darker(112);
        off = dark ? off.lighter(115) : off.darker(112);
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
