#include "ui/qt/SymbolSet.h"

#include <QDir>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSvgRenderer>

#include "foundation/Log.h"
#include "platform/linux/LinuxPaths.h"

namespace orvel::ui {

SymbolSet& SymbolSet::shared() {
    static SymbolSet set;
    return set;
}

QString SymbolSet::directory() {
    const QByteArray fromEnvironment = qgetenv("ORVEL_ICONS_DIR");
    if (!fromEnvironment.isEmpty()) {
        return QString::fromLocal8Bit(fromEnvironment);
    }
    static const QString resources =
        QString::fromStdString(LinuxPaths::defaultResourcesDirectory() + "/icons");
    return resources;
}

QSvgRenderer* SymbolSet::renderer(const std::string& name) {
    auto found = renderers_.find(name);
    if (found != renderers_.end()) {
        return found->second.get();
    }
    if (missing_.count(name) != 0) {
        return nullptr;
    }
    const QString path = QDir(directory()).filePath(QString::fromStdString(name) + ".svg");
    auto renderer = std::make_unique<QSvgRenderer>(path);
    if (!renderer->isValid()) {
        missing_.insert(name);
        Logger("ui").error("no drawing for the symbol \"" + name + "\" in " +
                           directory().toStdString() + "; a placeholder is shown");
        return nullptr;
    }
    return renderers_.emplace(name, std::move(renderer)).first->second.get();
}

bool SymbolSet::has(const std::string& name) {
    return renderer(name) != nullptr;
}

QImage SymbolSet::image(const std::string& name, int side, const QColor& color, double dpr) {
    const int pixels = std::max(1, static_cast<int>(side * dpr + 0.5));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        paint(painter, QRectF(0, 0, pixels, pixels), name, color);
    }
    image.setDevicePixelRatio(dpr);
    return image;
}

QIcon SymbolSet::icon(const std::string& name, int side, const QColor& color, double dpr) {
    auto key = std::make_tuple(name, side, color.rgba(), dpr);
    auto found = icons_.find(key);
    if (found == icons_.end()) {
        found =
            icons_.emplace(std::move(key), QIcon(QPixmap::fromImage(image(name, side, color, dpr))))
                .first;
    }
    return found->second;
}

void SymbolSet::paint(QPainter& painter, const QRectF& rect, const std::string& name,
                      const QColor& color, double rotationDegrees) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (rotationDegrees != 0) {
        painter.translate(rect.center());
        painter.rotate(rotationDegrees);
        painter.translate(-rect.center());
    }
    if (QSvgRenderer* svg = renderer(name)) {
        // Drawn in black on a layer of its own, then tinted by keeping only the drawing's alpha.
        const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        const QSize pixels(std::max(1, qRound(rect.width() * dpr)),
                           std::max(1, qRound(rect.height() * dpr)));
        QImage layer(pixels, QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        {
            QPainter p(&layer);
            p.setRenderHint(QPainter::Antialiasing);
            svg->render(&p, QRectF(QPointF(0, 0), QSizeF(pixels)));
            p.setCompositionMode(QPainter::CompositionMode_SourceIn);
            p.fillRect(layer.rect(), color);
        }
        layer.setDevicePixelRatio(dpr);
        painter.drawImage(rect.topLeft(), layer);
    } else {
        // A dashed rounded square: clearly a stand-in, never mistaken for a real symbol.
        QPen pen(color, std::max(1.0, rect.width() / 12));
        pen.setStyle(Qt::DashLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const qreal inset = rect.width() * 0.15;
        painter.drawRoundedRect(rect.adjusted(inset, inset, -inset, -inset), rect.width() * 0.15,
                                rect.width() * 0.15);
    }
    painter.restore();
}

}  // namespace orvel::ui
