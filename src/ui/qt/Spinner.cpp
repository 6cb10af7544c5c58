#include "ui/qt/Spinner.h"

#include <QPainter>
#include <QTimerEvent>

namespace orvel::ui {

namespace {
constexpr int kSpokes = 12;
}

Spinner::Spinner(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Spinner::setControlSize(ControlSize size) {
    if (size != size_) {
        size_ = size;
        updateGeometry();
    }
}

QSize Spinner::sizeHint() const {
    const int side = size_ == ControlSize::mini    ? 10
                     : size_ == ControlSize::small ? 16
                     : size_ == ControlSize::large ? 40
                                                   : 28;
    return {side, side};
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height());
    p.translate(width() / 2.0, height() / 2.0);
    QColor color = palette().color(QPalette::WindowText);
    const double thickness = std::max(1.2, side / 11);
    for (int i = 0; i < kSpokes; ++i) {
        const int age = (step_ - i + kSpokes) % kSpokes;
        color.setAlphaF(static_cast<float>(0.85 - 0.65 * age / (kSpokes - 1)));
        p.setPen(QPen(color, thickness, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(0, -side * 0.26), QPointF(0, -side * 0.45));
        p.rotate(360.0 / kSpokes);
    }
}

void Spinner::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timer_.timerId()) {
        step_ = (step_ + 1) % kSpokes;
        update();
    }
}

void Spinner::showEvent(QShowEvent*) {
    timer_.start(80, this);
}

void Spinner::hideEvent(QHideEvent*) {
    timer_.stop();
}

}  // namespace orvel::ui
