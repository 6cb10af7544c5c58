#include "ui/qt/ViewButton.h"

#include <QFocusEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QStyleOptionButton>

namespace orvel::ui {

ViewButton::ViewButton(QWidget* parent) : QAbstractButton(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(6);
    setLook(Look::bordered);
}

void ViewButton::setLook(Look look, double indent, double scale) {
    look_ = look;
    scale_ = scale;
    auto* box = static_cast<QHBoxLayout*>(layout());
    switch (look) {
        case Look::bordered:
        case Look::prominent:
            box->setContentsMargins(12, 3, 12, 3);
            setFocusPolicy(Qt::StrongFocus);
            setCursor(Qt::ArrowCursor);
            break;
        case Look::menuRow:
            box->setContentsMargins(static_cast<int>(10 + indent), static_cast<int>(3 * scale), 10,
                                    static_cast<int>(3 * scale));
            // Reached with Tab and the arrows, as a menu's items are; a click does not keep it.
            setFocusPolicy(Qt::TabFocus);
            setCursor(Qt::ArrowCursor);
            break;
        case Look::link:
            box->setContentsMargins(0, 0, 0, 0);
            setFocusPolicy(Qt::TabFocus);
            setCursor(Qt::PointingHandCursor);
            break;
        case Look::plain:
        case Look::borderless:
            box->setContentsMargins(0, 0, 0, 0);
            setFocusPolicy(Qt::TabFocus);
            setCursor(Qt::ArrowCursor);
            break;
    }
    updateGeometry();
    update();
}

void ViewButton::setDefault(bool isDefault) {
    if (isDefault != default_) {
        default_ = isDefault;
        update();
    }
}

void ViewButton::setDestructive(bool destructive) {
    destructive_ = destructive;
}

QSize ViewButton::sizeHint() const {
    QSize size = layout()->sizeHint();
    if (look_ == Look::bordered || look_ == Look::prominent) {
        size.setHeight(std::max(size.height(), 24));
        size.setWidth(std::max(size.width(), 64));
    } else if (look_ == Look::menuRow) {
        size.setHeight(std::max(size.height(), static_cast<int>(22 * scale_)));
    }
    return size;
}

QSize ViewButton::minimumSizeHint() const {
    QSize size = layout()->minimumSize();
    size.setHeight(sizeHint().height());
    return size;
}

void ViewButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    QAbstractButton::enterEvent(event);
    if (look_ == Look::borderless) {
        update();
    }
}

void ViewButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    QAbstractButton::leaveEvent(event);
    if (look_ == Look::borderless) {
        update();
    }
}

void ViewButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    switch (look_) {
        case Look::bordered: {
            QStyleOptionButton option;
            option.initFrom(this);
            option.features =
                default_ ? QStyleOptionButton::DefaultButton : QStyleOptionButton::None;
            option.state |= isDown() ? QStyle::State_Sunken : QStyle::State_Raised;
            if (isChecked()) {
                option.state |= QStyle::State_On;
            }
            style()->drawControl(QStyle::CE_PushButtonBevel, &option, &p, this);
            break;
        }
        case Look::prominent: {
            QColor fill =
                pal.color(QPalette::Active, destructive_ ? QPalette::Link : QPalette::Highlight);
            if (destructive_) {
                fill = QColor(0xD9, 0x30, 0x25);
            }
            if (isDown()) {
                fill = fill.darker(118);
            }
            if (!isEnabled()) {
                fill.setAlphaF(0.45f);
            }
            const QRectF r = QRectF(rect()).adjusted(0.5, 1.5, -0.5, -1.5);
            p.setPen(QPen(fill.darker(125), 1));
            p.setBrush(fill);
            p.drawRoundedRect(r, 5, 5);
            if (hasFocus()) {
                QColor ring = pal.color(QPalette::Highlight);
                ring.setAlpha(100);
                p.setBrush(Qt::NoBrush);
                p.setPen(QPen(ring, 2));
                p.drawRoundedRect(r.adjusted(-1, -1, 1, 1), 6, 6);
            }
            break;
        }
        case Look::menuRow: {
            // The accent shows only while the row is held down; rows do not react to hovering.
            // The row the keyboard is on has a tint of it and the ring every focused control has.
            const QRectF row = QRectF(rect()).adjusted(5, 0, -5, 0);
            if (isDown()) {
                p.setPen(Qt::NoPen);
                p.setBrush(pal.color(QPalette::Active, QPalette::Highlight));
                p.drawRoundedRect(row, 4, 4);
            } else if (focusShown()) {
                QColor tint = pal.color(QPalette::Active, QPalette::Highlight);
                tint.setAlpha(36);
                p.setPen(Qt::NoPen);
                p.setBrush(tint);
                p.drawRoundedRect(row, 4, 4);
                drawFocusRing(p, row.adjusted(1, 1, -1, -1), 4);
            }
            break;
        }
        case Look::borderless:
            if (hovered_ && isEnabled()) {
                QColor wash = pal.color(QPalette::WindowText);
                wash.setAlpha(isDown() ? 40 : 20);
                p.setPen(Qt::NoPen);
                p.setBrush(wash);
                p.drawRoundedRect(QRectF(rect()), 4, 4);
            }
            break;
        case Look::plain:
        case Look::link:
            break;
    }
    // Buttons without a bezel show the keyboard's place with a ring of their own.
    const bool bezelless = look_ == Look::plain || look_ == Look::link || look_ == Look::borderless;
    if (bezelless && focusShown()) {
        drawFocusRing(p, QRectF(rect()).adjusted(1, 1, -1, -1), 4);
    }
}

void ViewButton::focusInEvent(QFocusEvent* event) {
    // Shown once the keyboard moves onto the button, not when a window opens on it or a click
    // lands on it; a window or menu that comes back leaves it as it was.
    switch (event->reason()) {
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
            keyboardFocus_ = true;
            break;
        case Qt::ActiveWindowFocusReason:
        case Qt::PopupFocusReason:
            break;
        default:
            keyboardFocus_ = false;
            break;
    }
    QAbstractButton::focusInEvent(event);
}

bool ViewButton::focusShown() const {
    return keyboardFocus_ && hasFocus();
}

void ViewButton::drawFocusRing(QPainter& p, const QRectF& area, double radius) const {
    QColor ring = palette().color(QPalette::Active, QPalette::Highlight);
    ring.setAlpha(110);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ring, 2));
    p.drawRoundedRect(area, radius, radius);
}

}  // namespace orvel::ui
