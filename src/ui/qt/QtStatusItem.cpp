#include "ui/qt/QtStatusItem.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QPainter>
#include <QSystemTrayIcon>

#include "ui/qt/Appearance.h"
#include "ui/qt/SymbolSet.h"

namespace orvel::ui {

namespace {

unsigned currentModifiers() {
    const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
    unsigned out = 0;
    if (held & Qt::ControlModifier)
        out |= kModifierControl;
    if (held & Qt::ShiftModifier)
        out |= kModifierShift;
    if (held & Qt::AltModifier)
        out |= kModifierOption;
    if (held & Qt::MetaModifier)
        out |= kModifierCommand;
    return out;
}

}  // namespace

QtStatusItem::QtStatusItem() : tray_(std::make_unique<QSystemTrayIcon>()) {
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (!onClick) {
                             return;
                         }
                         // The item answers the left and right buttons only; the second
                         // click of a double click is a click of its own.
                         if (reason != QSystemTrayIcon::Trigger &&
                             reason != QSystemTrayIcon::DoubleClick &&
                             reason != QSystemTrayIcon::Context) {
                             return;
                         }
                         StatusItemClick click;
                         click.modifiers = currentModifiers();
                         click.rightButton = reason == QSystemTrayIcon::Context;
                         auto handler = onClick;
                         handler(click);
                     });
}

QtStatusItem::~QtStatusItem() {
    tray_->hide();
}

bool QtStatusItem::hasButton() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QImage QtStatusItem::render(const StatusItemLook& look, bool dark, int height, double dpr) {
    QColor color;
    if (look.tint) {
        color =
            QColor::fromRgbF(static_cast<float>(look.tint->r), static_cast<float>(look.tint->g),
                             static_cast<float>(look.tint->b), static_cast<float>(look.tint->a));
    } else {
        // A template image takes the panel's text colour.
        color = dark ? QColor(0xF2, 0xF2, 0xF2) : QColor(0x1A, 0x1A, 0x1A);
    }
    const int side = std::min(height, static_cast<int>(std::lround(look.symbolPointSize * 1.2)));
    QFont font = Appearance::font(look.font);
    const QString title = QString::fromStdString(look.title);
    const int gap = title.isEmpty() ? 0 : 4;
    const int textWidth = title.isEmpty() ? 0 : QFontMetrics(font).horizontalAdvance(title) + 2;
    const int width = std::max(height, side + gap + textWidth + (title.isEmpty() ? 0 : 2));
    QImage image(static_cast<int>(width * dpr), static_cast<int>(height * dpr),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const double left = title.isEmpty() ? (width - side) / 2.0 : 1;
    SymbolSet::shared().paint(p, QRectF(left, (height - side) / 2.0, side, side),
                              look.symbol.empty() ? "cup.and.saucer" : look.symbol, color);
    if (!title.isEmpty()) {
        p.setFont(font);
        p.setPen(color);
        p.drawText(QRectF(left + side + gap, 0, textWidth, height),
                   Qt::AlignVCenter | Qt::AlignLeft, title);
    }
    return image;
}

namespace {

// What the tray's picture is drawn from.
bool drawsTheSame(const StatusItemLook& a, const StatusItemLook& b) {
    return a.symbol == b.symbol && a.templateImage == b.templateImage &&
           a.symbolPointSize == b.symbolPointSize && a.tint == b.tint && a.title == b.title &&
           a.font == b.font;
}

}  // namespace

void QtStatusItem::setLook(StatusItemLook look) {
    const bool dark = Appearance::isDark(QApplication::palette());
    // The desktop's tray is told of a new picture only when there is one: every update costs it
    // a redraw (and, for a tray on the bus, a message).
    const bool redraw = image_.isNull() || dark != drawnDark_ || !drawsTheSame(look, look_);
    const bool newTip = image_.isNull() || look.toolTip != look_.toolTip ||
                        look.accessibilityLabel != look_.accessibilityLabel;
    look_ = std::move(look);
    if (redraw) {
        drawnDark_ = dark;
        image_ = render(look_, dark, 22, 2.0);
        tray_->setIcon(QIcon(QPixmap::fromImage(image_)));
        ++redraws_;
    }
    if (newTip) {
        QString tip = QString::fromStdString(look_.toolTip);
        if (tip.isEmpty()) {
            tip = QString::fromStdString(look_.accessibilityLabel);
        }
        tray_->setToolTip(tip);
    }
    if (hasButton() && !tray_->isVisible()) {
        tray_->show();
    }
}

Rect QtStatusItem::anchorRect() const {
    const QRect g = tray_->geometry();
    if (g.isValid() && !g.isEmpty()) {
        return Rect{double(g.x()), double(g.y()), double(g.width()), double(g.height())};
    }
    // Trays that do not tell where they are: the click happened under the pointer.
    const QPoint at = QCursor::pos();
    return Rect{double(at.x() - 11), double(at.y() - 11), 22, 22};
}

}  // namespace orvel::ui
