#include "ui/qt/QtStatusItem.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QWidget>

#include <cmath>
#include <functional>

#include "platform/DesktopSettings.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/KeySequence.h"
#include "ui/qt/SymbolSet.h"

namespace orvel::ui {

namespace {

// The panel text colours of a light and a dark appearance.
const QColor kDark(0x1A, 0x1A, 0x1A);
const QColor kLight(0xF2, 0xF2, 0xF2);
// Sizes trays ask for; each gets a picture of its own so nothing is scaled.
constexpr int kTraySizes[] = {16, 22, 24, 32, 48, 64};
constexpr int kCommonSize = 22;

// What the tray's picture is drawn from.
bool drawsTheSame(const StatusItemLook& a, const StatusItemLook& b) {
    return a.symbol == b.symbol && a.templateImage == b.templateImage && a.tint == b.tint;
}

ColorScheme schemeOf(DesktopSettings* desktop) {
    return desktop != nullptr ? desktop->colorScheme() : ColorScheme::unknown;
}

// Qt's X11 tray window hands its tool tip event to the tray icon before it shows the tip.
class ToolTipWatch final : public QObject {
  public:
    explicit ToolTipWatch(std::function<void()> showing) : showing_(std::move(showing)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::ToolTip) {
            showing_();
        }
        return false;
    }

  private:
    std::function<void()> showing_;
};

}  // namespace

QtStatusItem::QtStatusItem(DesktopSettings* desktop)
    : desktop_(desktop), tray_(std::make_unique<QSystemTrayIcon>()) {
    // Qt's press-time reasons stand for clicks only where no X11 tray window gives releases
    // (a tray on the bus, where the host reports the click itself).
    QObject::connect(
        tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
        [this](QSystemTrayIcon::ActivationReason reason) {
            if (trayWindow() != nullptr) {
                return;
            }
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                click(false, heldModifiers());
            } else if (reason == QSystemTrayIcon::Context) {
                click(true, heldModifiers());
            }
        });
    buttons_.isTrayWindow = [this](std::uint32_t window) {
        QWidget* own = trayWindow();
        return own != nullptr && own->internalWinId() == window;
    };
    buttons_.onRelease = [this](int button, unsigned modifiers) {
        if (button != TrayButtonFilter::kLeft && button != TrayButtonFilter::kRight) {
            return;
        }
        // Answered once Qt has seen the release too: a panel opened before would take it for
        // a click outside itself and close at once.
        QMetaObject::invokeMethod(
            tray_.get(),
            [this, right = button == TrayButtonFilter::kRight, modifiers] {
                click(right, modifiers);
            },
            Qt::QueuedConnection);
    };
    toolTipWatch_ = std::make_unique<ToolTipWatch>([this] {
        if (onToolTip) {
            auto handler = onToolTip;
            handler();
        }
    });
    tray_->installEventFilter(toolTipWatch_.get());
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        buttons_.install();
        filtering_ = true;
    }
    if (desktop_ != nullptr) {
        schemeChanges_ = desktop_->colorSchemeChanged.subscribe([this](ColorScheme) {
            if (!image_.isNull()) {
                redraw();
            }
        });
    }
}

QtStatusItem::~QtStatusItem() {
    tray_->removeEventFilter(toolTipWatch_.get());
    tray_->hide();
}

bool QtStatusItem::hasButton() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QWidget* QtStatusItem::trayWindow() {
    if (!filtering_) {
        return nullptr;
    }
    if (trayWindow_.isNull()) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0) {
                trayWindow_ = w;
                break;
            }
        }
    }
    return trayWindow_.data();
}

void QtStatusItem::click(bool rightButton, unsigned modifiers) {
    if (!onClick) {
        return;
    }
    StatusItemClick click;
    click.modifiers = modifiers;
    click.rightButton = rightButton;
    auto handler = onClick;
    handler(click);
}

QtStatusItem::Colors QtStatusItem::colors(const StatusItemLook& look, ColorScheme scheme) {
    Colors out;
    if (look.tint) {
        out.fill =
            QColor::fromRgbF(static_cast<float>(look.tint->r), static_cast<float>(look.tint->g),
                             static_cast<float>(look.tint->b), static_cast<float>(look.tint->a));
    } else {
        // A template symbol takes the text colour of the desktop's scheme; light where it is
        // not known, since most panels are dark.
        out.fill = scheme == ColorScheme::light ? kDark : kLight;
    }
    // A fill this bright reads on black, and the dark outline on white; a darker one the
    // other way round.
    out.outline = Appearance::luminance(out.fill) >= 0.18 ? kDark : kLight;
    return out;
}

QImage QtStatusItem::render(const StatusItemLook& look, ColorScheme scheme, int size, double dpr) {
    const Colors c = colors(look, scheme);
    const int pixels = std::max(1, static_cast<int>(std::lround(size * dpr)));
    // One pixel of outline at the common size, more for larger pictures.
    const int ring = std::max(1, static_cast<int>(std::lround(pixels / double(kCommonSize))));
    const std::string name = look.symbol.empty() ? "cup.and.saucer" : look.symbol;
    const QRectF box(ring, ring, pixels - 2 * ring, pixels - 2 * ring);

    QImage glyph(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    glyph.fill(Qt::transparent);
    {
        QPainter p(&glyph);
        SymbolSet::shared().paint(p, box, name, c.fill);
    }
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        // The outline: the glyph's shape spread by the ring in every direction.
        QImage halo(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
        halo.fill(Qt::transparent);
        {
            QPainter h(&halo);
            for (int dy = -ring; dy <= ring; ++dy) {
                for (int dx = -ring; dx <= ring; ++dx) {
                    if (dx * dx + dy * dy <= ring * ring + ring) {
                        h.drawImage(QPoint(dx, dy), glyph);
                    }
                }
            }
            h.setCompositionMode(QPainter::CompositionMode_SourceIn);
            h.fillRect(halo.rect(), c.outline);
        }
        p.drawImage(QPoint(0, 0), halo);
        p.drawImage(QPoint(0, 0), glyph);
    }
    image.setDevicePixelRatio(dpr);
    return image;
}

QString QtStatusItem::toolTip() const {
    return tray_->toolTip();
}

void QtStatusItem::redraw() {
    drawnScheme_ = schemeOf(desktop_);
    QIcon icon;
    for (const int size : kTraySizes) {
        icon.addPixmap(QPixmap::fromImage(render(look_, drawnScheme_, size)));
    }
    image_ = render(look_, drawnScheme_, kCommonSize);
    tray_->setIcon(icon);
    ++redraws_;
}

void QtStatusItem::setLook(StatusItemLook look) {
    // The desktop's tray is told of a new picture only when there is one: every update costs it
    // a redraw (and, for a tray on the bus, a message).
    const bool again =
        image_.isNull() || schemeOf(desktop_) != drawnScheme_ || !drawsTheSame(look, look_);
    look_ = std::move(look);
    if (again) {
        redraw();
    }
    // The picture has no room for the title, so the tool tip leads with it.
    QString tip = QString::fromStdString(look_.toolTip);
    if (tip.isEmpty()) {
        tip = QString::fromStdString(look_.accessibilityLabel);
    }
    if (!look_.title.empty()) {
        const QString label = look_.accessibilityLabel.empty()
                                  ? QStringLiteral("Orvel")
                                  : QString::fromStdString(look_.accessibilityLabel);
        tip = label + QStringLiteral(" —") + QString::fromStdString(look_.title) +
              QLatin1Char('\n') + tip;
    }
    if (tip != tray_->toolTip()) {
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
