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

void SymbolWidget::setApplicationIcon(const std::string& iconName, const std::string& iconFile) {
    if (iconName == iconName_ && iconFile == iconFile_) {
        return;
    }
    iconName_ = iconName;
    iconFile_ = iconFile;
    picture_ = QIcon();
    if (!iconName.empty() && QIcon::hasThemeIcon(QString::fromStdString(iconName))) {
        picture_ = QIcon::fromTheme(QString::fromStdString(iconName));
    } else if (!iconFile.empty()) {
        picture_ = QIcon(QString::fromStdString(iconFile));
        if (picture_.availableSizes().isEmpty() && picture_.pixmap(side_).isNull()) {
            picture_ = QIcon();  // not a picture Qt can read
        }
    }
    update();
}

void SymbolWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setOpacity(opacity_);
    const int side = std::min(width(), height());
    const QRectF box((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    if (!picture_.isNull()) {
        picture_.paint(&painter, box.toRect(), Qt::AlignCenter,
                       isEnabled() ? QIcon::Normal : QIcon::Disabled);
        return;
    }
    SymbolSet::shared().paint(painter, box, name_, isEnabled() ? color_ : [&] {
        QColor faded = color_;
        faded.setAlphaF(faded.alphaF() * 0.4f);
        return faded;
    }(), rotation_);
}

}  // namespace orvel::ui
