#include "ui/qt/SegmentedControl.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QAccessible>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/qt/Appearance.h"
#include "ui/qt/SymbolSet.h"

namespace orvel::ui {

namespace {
constexpr int kPadding = 12;
}

SegmentedControl::SegmentedControl(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SegmentedControl::setSegments(std::vector<Segment> segments) {
    if (segments == segments_) {
        return;
    }
    segments_ = std::move(segments);
    updateGeometry();
    update();
}

void SegmentedControl::setSelectedIndex(int index) {
    if (index == selected_) {
        return;
    }
    const int was = std::exchange(selected_, index);
    update();
    // A reader hears which segment lost the choice and which took it.
    for (int segment : {was, index}) {
        if (segment < 0 || segment >= static_cast<int>(segments_.size())) {
            continue;
        }
        QAccessible::State changed;
        changed.checked = !tabBar_;
        changed.selected = tabBar_;
        QAccessibleStateChangeEvent event(this, changed);
        event.setChild(segment);
        QAccessible::updateAccessibility(&event);
    }
}

void SegmentedControl::activate(int index) {
    if (index >= 0 && index < static_cast<int>(segments_.size()) &&
        segments_[static_cast<std::size_t>(index)].enabled && onActivated) {
        auto handler = onActivated;
        handler(index);
    }
}

void SegmentedControl::setControlSize(ControlSize size) {
    if (size != size_) {
        size_ = size;
        updateGeometry();
    }
}

int SegmentedControl::naturalWidth(int index) const {
    const Segment& s = segments_[static_cast<std::size_t>(index)];
    // Rounded up: eliding measures the title to the fraction of a pixel, and a title measured a
    // fraction short would lose its end.
    int w = static_cast<int>(std::ceil(QFontMetricsF(font()).horizontalAdvance(s.title))) +
            2 * kPadding;
    if (!s.symbol.empty()) {
        w += 18;
    }
    return std::max(w, 44);
}

double SegmentedControl::segmentWidth(int index) const {
    std::vector<double> natural;
    double total = 0;
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        natural.push_back(naturalWidth(static_cast<int>(i)));
        total += natural.back();
    }
    const double room = width() - 2;
    const double own = natural[static_cast<std::size_t>(index)];
    if (total <= room || room <= 0) {
        return own;
    }
    // The widest titles give way first, so that a short one is never elided beside a long one.
    std::vector<double> sorted = natural;
    std::sort(sorted.begin(), sorted.end());
    double left = room;
    double cap = 0;
    for (std::size_t k = 0; k < sorted.size(); ++k) {
        const double sharing = static_cast<double>(sorted.size() - k);
        if (sorted[k] * sharing >= left) {
            cap = left / sharing;
            break;
        }
        left -= sorted[k];
    }
    return std::min(own, cap);
}

QSize SegmentedControl::minimumSizeHint() const {
    return {2 + 44 * static_cast<int>(segments_.size()), sizeHint().height()};
}

QSize SegmentedControl::sizeHint() const {
    int width = 2;
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        width += naturalWidth(static_cast<int>(i));
    }
    const int height = size_ == ControlSize::mini    ? 16
                       : size_ == ControlSize::small ? 19
                       : size_ == ControlSize::large ? 28
                                                     : 24;
    return {width, std::max(height, fontMetrics().height() + 6)};
}

QRectF SegmentedControl::segmentRect(int index) const {
    double x = 1;
    for (int i = 0; i < index; ++i) {
        x += segmentWidth(i);
    }
    const double h = sizeHint().height();
    return QRectF(x, (height() - h) / 2.0 + 0.5, segmentWidth(index), h - 1.0);
}

int SegmentedControl::segmentAt(QPoint point) const {
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        if (segmentRect(static_cast<int>(i)).contains(point)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void SegmentedControl::paintEvent(QPaintEvent*) {
    if (segments_.empty()) {
        return;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const bool dark = Appearance::isDark(pal);
    if (!isEnabled()) {
        p.setOpacity(0.5);
    }
    const QRectF first = segmentRect(0);
    const QRectF last = segmentRect(static_cast<int>(segments_.size()) - 1);
    const QRectF frame(first.topLeft(), last.bottomRight());
    const double radius = 5;
    p.setPen(QPen(dark ? QColor(0, 0, 0, 90) : QColor(0, 0, 0, 45), 1));
    p.setBrush(pal.color(QPalette::Button));
    p.drawRoundedRect(frame, radius, radius);

    QPainterPath clip;
    clip.addRoundedRect(frame, radius, radius);
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        const int index = static_cast<int>(i);
        const QRectF r = segmentRect(index);
        const Segment& s = segments_[i];
        const bool chosen = index == selected_;
        if (chosen || index == pressed_) {
            p.save();
            p.setClipPath(clip);
            QColor fill = chosen ? pal.color(QPalette::Active, QPalette::Highlight)
                                 : (dark ? QColor(255, 255, 255, 30) : QColor(0, 0, 0, 22));
            if (chosen && index == pressed_) {
                fill = fill.darker(115);
            }
            p.fillRect(r.adjusted(0.5, 0.5, -0.5, -0.5), fill);
            p.restore();
        }
        if (i > 0 && !chosen && index - 1 != selected_) {
            p.setPen(QPen(dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 40), 1));
            p.drawLine(QPointF(r.left(), r.top() + 5), QPointF(r.left(), r.bottom() - 5));
        }
        QColor text =
            chosen ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::ButtonText);
        if (!s.enabled) {
            text.setAlphaF(0.4f);
        }
        p.setPen(text);
        QRectF content = r;
        const int room = static_cast<int>(r.width()) - 2 * kPadding - (s.symbol.empty() ? 0 : 18);
        const QString title = fontMetrics().elidedText(s.title, Qt::ElideRight, std::max(room, 0));
        if (!s.symbol.empty()) {
            const int textWidth = fontMetrics().horizontalAdvance(title);
            const double left = r.center().x() - (textWidth + 18) / 2.0;
            SymbolSet::shared().paint(p, QRectF(left, r.center().y() - 7, 14, 14), s.symbol, text);
            content.setLeft(left + 18);
            p.drawText(content, Qt::AlignVCenter | Qt::AlignLeft, title);
        } else {
            p.drawText(content, Qt::AlignCenter, title);
        }
    }
    if (hasFocus()) {
        QColor ring = pal.color(QPalette::Highlight);
        ring.setAlpha(110);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(ring, 2));
        p.drawRoundedRect(frame.adjusted(-1, -1, 1, 1), radius + 1, radius + 1);
    }
}

void SegmentedControl::mousePressEvent(QMouseEvent* event) {
    const int at = segmentAt(event->position().toPoint());
    if (at >= 0 && segments_[static_cast<std::size_t>(at)].enabled) {
        pressed_ = at;
        update();
    }
}

void SegmentedControl::mouseReleaseEvent(QMouseEvent* event) {
    const int at = segmentAt(event->position().toPoint());
    const int was = std::exchange(pressed_, -1);
    update();
    if (at >= 0 && at == was && onActivated) {
        auto handler = onActivated;
        handler(at);
    }
}

void SegmentedControl::keyPressEvent(QKeyEvent* event) {
    const int step = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
    if (step == 0 || segments_.empty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int count = static_cast<int>(segments_.size());
    int next = selected_ < 0 ? 0 : selected_ + step;
    while (next >= 0 && next < count && !segments_[static_cast<std::size_t>(next)].enabled) {
        next += step;
    }
    if (next >= 0 && next < count && onActivated) {
        auto handler = onActivated;
        handler(next);
    }
}

}  // namespace orvel::ui
