#include "ui/qt/QtNotifierStatusItem.h"

#include "ui/qt/KeySequence.h"
#include "ui/qt/SymbolSet.h"

#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QPainter>

namespace orvel::ui {

namespace {

StatusNotifierPixmap toPixmap(const QImage& drawn) {
    const QImage image = drawn.convertToFormat(QImage::Format_ARGB32);
    StatusNotifierPixmap pixmap{image.width(), image.height(), {}};
    pixmap.argb.reserve(static_cast<size_t>(image.width() * image.height() * 4));
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            pixmap.argb.insert(
                pixmap.argb.end(),
                {static_cast<std::uint8_t>(qAlpha(p)), static_cast<std::uint8_t>(qRed(p)),
                 static_cast<std::uint8_t>(qGreen(p)), static_cast<std::uint8_t>(qBlue(p))});
        }
    }
    return pixmap;
}

// The pictures change with the symbol and the tint only: they are drawn again only then.
struct PixmapCache {
    std::string symbol;
    std::optional<RGBA> tint;
    std::vector<StatusNotifierPixmap> pixmaps;
};

const std::vector<StatusNotifierPixmap>& pixmapsFor(const StatusItemLook& look) {
    static PixmapCache cache;
    if (cache.pixmaps.empty() || cache.symbol != look.symbol || cache.tint != look.tint) {
        cache.symbol = look.symbol;
        cache.tint = look.tint;
        cache.pixmaps.clear();
        for (const int side : QtNotifierStatusItem::kPixmapSides) {
            cache.pixmaps.push_back(toPixmap(QtNotifierStatusItem::render(look, side)));
        }
    }
    return cache.pixmaps;
}

}  // namespace

QtNotifierStatusItem::QtNotifierStatusItem(std::unique_ptr<StatusNotifierItem> service)
    : service_(std::move(service)) {
    service_->onActivate = [this](int x, int y) { clicked(false, x, y); };
    service_->onContextMenu = [this](int x, int y) { clicked(true, x, y); };
    service_->onMenuItem = [this](int id) { chooseMenuEntry(id); };
    // The host shows the menu at the item, where the pointer is as it opens: a panel opened
    // from the menu shows there too.
    service_->onMenuOpening = [this] {
        clickedAt_ = QCursor::pos();
        pointerAtMenu_ = true;
    };
}

QtNotifierStatusItem::~QtNotifierStatusItem() {
    service_->onActivate = nullptr;
    service_->onContextMenu = nullptr;
    service_->onMenuItem = nullptr;
    service_->onMenuOpening = nullptr;
}

std::vector<StatusNotifierMenuItem> QtNotifierStatusItem::notifierMenu(
    const std::vector<StatusMenuEntry>& entries) {
    std::vector<StatusNotifierMenuItem> items;
    items.reserve(entries.size());
    for (const auto& entry : entries) {
        items.push_back({entry.id, entry.title, entry.enabled, entry.checked, entry.separator});
    }
    return items;
}

void QtNotifierStatusItem::setMenu(std::vector<StatusMenuEntry> entries) {
    service_->setMenu(notifierMenu(entries));
    service_->setOffersMenu(!entries.empty());
    StatusItem::setMenu(std::move(entries));
}

void QtNotifierStatusItem::clicked(bool contextButton, int x, int y) {
    // Hosts that cannot tell where the item is send the origin.
    pointerAtMenu_ = false;
    if (x != 0 || y != 0) {
        clickedAt_ = QPoint(x, y);
    } else {
        clickedAt_.reset();
    }
    if (!onClick) {
        return;
    }
    StatusItemClick click;
    click.rightButton = contextButton;
    click.modifiers = heldModifiers();
    auto handler = onClick;
    handler(click);
}

QPoint QtNotifierStatusItem::anchorFor(std::optional<QPoint> host, QPoint pointer,
                                       const QString& platform) {
    // A Wayland client knows no place on the screen: hosts there send the point within their
    // own bar, and the pointer is all there is.
    if (!host || platform.startsWith(QLatin1String("wayland"))) {
        return pointer;
    }
    // A host on Wayland sends the same bar-local point to an X client (waybar: (10, 17) for a
    // click at the right end of the screen). A point that close to the origin is a place on the
    // screen only if the pointer is there too.
    constexpr int kBarLocal = 64;
    const bool nearOrigin = host->x() < kBarLocal && host->y() < kBarLocal;
    if (nearOrigin && (pointer - *host).manhattanLength() > kBarLocal) {
        return pointer;
    }
    return *host;
}

Rect QtNotifierStatusItem::anchorRect() const {
    // Where the pointer was as the menu opened is a place on the screen.
    const QPoint at = pointerAtMenu_ && clickedAt_
                          ? *clickedAt_
                          : anchorFor(clickedAt_, QCursor::pos(), QGuiApplication::platformName());
    return Rect{double(at.x()), double(at.y()), 0, 0};
}

std::string QtNotifierStatusItem::iconName(const StatusItemLook& look) {
    // The named icons are the pictures in full colour, a light cup with a dark rim: a host that
    // finds the name in the desktop's theme draws that icon as it is, and hosts that recolour
    // symbolic icons recolour none of these. Tinted looks go by their pictures alone.
    if (look.tint) {
        return {};
    }
    if (look.symbol == "cup.and.saucer") {
        return "orvel-cup";
    }
    if (look.symbol == "cup.and.saucer.fill") {
        return "orvel-cup-fill";
    }
    return {};
}

std::string QtNotifierStatusItem::iconThemePath() {
    return QDir(SymbolSet::directory()).absolutePath().toStdString();
}

QImage QtNotifierStatusItem::render(const StatusItemLook& look, int side) {
    const QColor glyph =
        look.tint
            ? QColor::fromRgbF(static_cast<float>(look.tint->r), static_cast<float>(look.tint->g),
                               static_cast<float>(look.tint->b), static_cast<float>(look.tint->a))
            : QColor(0xF2, 0xF2, 0xF2);
    const QColor rim(0x12, 0x12, 0x12);
    const std::string symbol = look.symbol.empty() ? "cup.and.saucer" : look.symbol;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double rimWidth = std::max(1.0, side / 22.0);
    const QRectF area(rimWidth, rimWidth, side - 2 * rimWidth, side - 2 * rimWidth);
    for (int dx = -1; dx <= 1; ++dx) {
        for (int dy = -1; dy <= 1; ++dy) {
            if (dx != 0 || dy != 0) {
                SymbolSet::shared().paint(p, area.translated(dx * rimWidth, dy * rimWidth), symbol,
                                          rim);
            }
        }
    }
    SymbolSet::shared().paint(p, area, symbol, glyph);
    return image;
}

StatusNotifierLook QtNotifierStatusItem::notifierLook(const StatusItemLook& look,
                                                      bool hostShowsLabel) {
    StatusNotifierLook out;
    out.title = look.accessibilityLabel.empty() ? "Orvel" : look.accessibilityLabel;
    out.iconName = iconName(look);
    out.iconThemePath = iconThemePath();
    out.pixmaps = pixmapsFor(look);
    // The host sets the label apart from the icon itself. One known to draw none keeps the
    // coarse title in its tool tip, and in the label too in case it does draw it after all.
    const std::string& title =
        hostShowsLabel || look.coarseTitle.empty() ? look.title : look.coarseTitle;
    const auto start = title.find_first_not_of(' ');
    out.label = start == std::string::npos ? std::string() : title.substr(start);
    out.labelGuide = StatusNotifierItem::guideFor(out.label);
    out.toolTipTitle = out.title;
    if (!look.accessibilityValue.empty()) {
        out.toolTipTitle += " \u2014 " + look.accessibilityValue;
    }
    // Many hosts (Plasma, Xfce's status tray) show no label: the time left is in the tool tip
    // too.
    if (!out.label.empty()) {
        out.toolTipTitle += " \u2014 " + out.label;
    }
    out.toolTipText = look.toolTip;
    return out;
}

void QtNotifierStatusItem::setLook(StatusItemLook look) {
    look_ = std::move(look);
    service_->setLook(notifierLook(look_, showsTitle()));
}

}  // namespace orvel::ui
