#include "ui/qt/QtPopover.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QHideEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QWidget>

#include <unistd.h>

#include <cstdlib>

#include "foundation/RunLoop.h"
#include "platform/linux/SwayWindowPlacement.h"
#include "platform/linux/WlrClickCatcher.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/MemoryGiveBack.h"
#include "ui/qt/QtRenderer.h"

namespace orvel::ui {

namespace {
constexpr int kRadius = 10;
constexpr int kGap = 4;
// A click on the tray icon that took the focus from the panel (and so closed it) comes this soon
// after; it only closes the panel, as the press that closes a popup does.
constexpr double kClosingClick = 0.5;

// sway's IPC where Orvel's windows are sway's: natively or through its X server.
std::unique_ptr<SwayWindowPlacement> swayFor(const QString& platform) {
    const char* socket = std::getenv("SWAYSOCK");
    const bool onWayland = platform.startsWith(QLatin1String("wayland")) ||
                           (platform == QLatin1String("xcb") && std::getenv("WAYLAND_DISPLAY"));
    if (socket == nullptr || !onWayland) {
        return nullptr;
    }
    auto sway = std::make_unique<SwayWindowPlacement>(socket, static_cast<int>(::getpid()));
    return sway->isAvailable() ? std::move(sway) : nullptr;
}

bool plainKey(const QKeyEvent& key) {
    return (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// The panel's rows and switches answer the keys of a menu: Up and Down go from one to the next
// as Shift+Tab and Tab do, Return and Enter press the focused one as Space does. Watched for the
// whole application while the panel is shown, so that no scroll view on the way takes the arrows.
class PanelKeys final : public QObject {
  public:
    explicit PanelKeys(QWidget& panel) : panel_(panel) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        auto* control = qobject_cast<QAbstractButton*>(watched);
        const auto& key = static_cast<const QKeyEvent&>(*event);
        if (control == nullptr || control->window() != &panel_ || !plainKey(key))
            return false;
        switch (key.key()) {
            case Qt::Key_Up:
            case Qt::Key_Down: {
                // Through the control, so that a scroll view around it brings the next one into
                // sight as it does for Tab.
                QKeyEvent tab(QEvent::KeyPress,
                              key.key() == Qt::Key_Up ? Qt::Key_Backtab : Qt::Key_Tab,
                              key.key() == Qt::Key_Up ? Qt::ShiftModifier : Qt::NoModifier);
                QCoreApplication::sendEvent(control, &tab);
                return true;
            }
            case Qt::Key_Return:
            case Qt::Key_Enter:
                if (control->isEnabled())
                    control->click();
                return true;
            default:
                return false;
        }
    }

  private:
    QWidget& panel_;
};

}  // namespace

class QtPopover::Panel final : public QWidget {
  public:
    explicit Panel(QtPopover& owner) : owner_(owner) { setAttribute(Qt::WA_TranslucentBackground); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QPalette& pal = palette();
        const bool dark = Appearance::isDark(pal);
        QColor fill = Appearance::material(Material::popover, pal);
        // A window of its own has the frame the desktop draws around it.
        if (owner_.windowed_) {
            p.fillRect(rect(), fill);
            return;
        }
        QPainterPath outline;
        outline.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);
        fill.setAlpha(252);
        p.fillPath(outline, fill);
        p.strokePath(outline, QPen(dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 50), 1));
    }
    // A popup closes on Escape by itself; a panel that stays open until dismissed does too, and
    // both close on Ctrl+W as a window does.
    void keyPressEvent(QKeyEvent* event) override {
        const QKeySequence pressed(event->keyCombination());
        if (pressed == QKeySequence(Qt::Key_Escape) ||
            pressed == QKeySequence(Qt::CTRL | Qt::Key_W)) {
            event->accept();
            owner_.close();
            return;
        }
        QWidget::keyPressEvent(event);
    }
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        QApplication::instance()->installEventFilter(&keys_);
    }
    void changeEvent(QEvent* event) override {
        QWidget::changeEvent(event);
        if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
            owner_.deactivated();
        }
    }
    void hideEvent(QHideEvent* event) override {
        QApplication::instance()->removeEventFilter(&keys_);
        QWidget::hideEvent(event);
        // A popup closes by itself on a click elsewhere; the view hears of it here.
        owner_.hidden();
    }

  private:
    QtPopover& owner_;
    PanelKeys keys_{*this};
};

QString QtPopover::defaultPlatform() {
    return QGuiApplication::platformName();
}

QtPopover::QtPopover(const QString& platform)
    : panel_(std::make_unique<Panel>(*this)), sway_(swayFor(platform)) {
    ownWindow_ = platform.startsWith(QLatin1String("wayland")) || sway_ != nullptr;
    if (sway_) {
        const char* display = std::getenv("WAYLAND_DISPLAY");
        outsideClicks_ = std::make_unique<WlrClickCatcher>(display != nullptr ? display : "");
    }
    // What a screen reader and the compositor call the panel's window; not the application's
    // name alone, which the About window goes by.
    panel_->setWindowTitle(QStringLiteral("Orvel Panel"));
    auto* layout = new QVBoxLayout(panel_.get());
    layout->setContentsMargins(1, 1, 1, 1);
    content_ = new QWidget;
    layout->addWidget(content_);
    setTransient(false);
}

QtPopover::~QtPopover() {
    sway_.reset();  // before the panel, whose hiding cancels them
    outsideClicks_.reset();
    renderer_.reset();
    view_.reset();
}

QWidget* QtPopover::widget() const {
    return panel_.get();
}

void QtPopover::setContent(std::shared_ptr<ViewComponent> content) {
    renderer_.reset();
    view_.reset();
    if (!content) {
        return;
    }
    view_ = std::make_unique<ViewHost>(std::move(content));
    renderer_ = std::make_unique<QtRenderer>(*view_, *content_);
    if (panel_->isVisible()) {
        view_->setShown(true);
    }
}

void QtPopover::setContentSize(double width, double height) {
    width_ = width;
    height_ = height;
    panel_->setFixedSize(static_cast<int>(width) + 2, static_cast<int>(height) + 2);
}

void QtPopover::setTransient(bool transient) {
    transient_ = transient;
    applyWindowFlags();
}

void QtPopover::setWindowed(bool windowed) {
    if (windowed == windowed_) {
        return;
    }
    windowed_ = windowed;
    if (windowed) {
        panelTitle_ = panel_->windowTitle();
        panel_->setWindowTitle(QString::fromUtf8(kWindowTitle));
    } else {
        panel_->setWindowTitle(panelTitle_);
    }
    applyWindowFlags();
}

void QtPopover::applyWindowFlags() {
    if (outsideClicks_ && (windowed_ || !transient_)) {
        outsideClicks_->uncover();
    }
    const Qt::WindowFlags flags = windowed_
                                      ? Qt::WindowFlags(Qt::Window)
                                      : (transient_ && !ownWindow_ ? Qt::Popup : Qt::Tool) |
                                            Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint;
    if (panel_->windowFlags() != flags) {
        const bool shown = panel_->isVisible();
        panel_->setWindowFlags(flags);
        if (shown)
            panel_->show();
    }
}

void QtPopover::show(StatusItem& anchor) {
    showAt(anchor.anchorRect());
}

void QtPopover::showAt(const Rect& anchor) {
    if (ownWindow_ && transient_ && !windowed_ && lostFocusAt_ >= 0 &&
        RunLoop::main().uptime() - lostFocusAt_ < kClosingClick) {
        return;
    }
    QSize size = panel_->size();
    if (width_ <= 0 || height_ <= 0) {
        panel_->setFixedSize(panel_->sizeHint());
        size = panel_->size();
    }

    const QPoint centre(static_cast<int>(anchor.x + anchor.width / 2),
                        static_cast<int>(anchor.y + anchor.height / 2));
    QScreen* screen = QGuiApplication::screenAt(centre);
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    int x = centre.x() - size.width() / 2;
    // Under a tray at the top of the screen, over one at the bottom.
    int y = static_cast<int>(anchor.y + anchor.height) + kGap;
    if (y + size.height() > area.bottom()) {
        y = static_cast<int>(anchor.y) - kGap - size.height();
    }
    x = std::clamp(x, area.left() + kGap,
                   std::max(area.left() + kGap, area.right() - size.width() - kGap));
    y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() - size.height()));
    // A window of its own has no item to stand by: the desktop places it, as any other.
    if (!windowed_) {
        panel_->move(x, y);
    }
    panel_->show();
    panel_->raise();
    if (sway_ && !windowed_) {
        sway_->placeByPointer(
            kWindowTitle, kGap,
            [this](const LayoutBox& placed, const std::vector<LayoutOutput>& outputs) {
                if (transient_ && !windowed_ && panel_->isVisible()) {
                    outsideClicks_->cover(outputs, placed, [this] { close(); });
                    sway_->watchFocus([this] { deactivated(); });
                }
            });
    }
    if (view_) {
        view_->setShown(true);
    }
    focusFirstControl();
}

void QtPopover::focusFirstControl() {
    // The panel is worked from the keyboard as soon as it opens, from its first control.
    QWidget* panel = panel_.get();
    for (QWidget* w = panel->nextInFocusChain(); w != panel; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->focusProxy() == nullptr && w->isEnabled() &&
            w->isVisibleTo(panel)) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void QtPopover::close() {
    // Hiding the window takes its focus away as it goes (on X11, before it counts as hidden):
    // that is no click elsewhere.
    closing_ = true;
    panel_->hide();
    closing_ = false;
}

void QtPopover::deactivated() {
    // The window that stands in for a missing tray stays open as any other window does.
    if (ownWindow_ && transient_ && !windowed_ && !closing_ && panel_->isVisible()) {
        lostFocusAt_ = RunLoop::main().uptime();
        close();
    }
}

void QtPopover::hidden() {
    if (sway_) {
        sway_->cancel();
        outsideClicks_->uncover();
    }
    if (view_) {
        view_->setShown(false);
    }
    // The panel keeps its widgets for the next opening; the pages drawing touched can go.
    giveBackMemorySoon();
}

bool QtPopover::isShown() const {
    return panel_->isVisible();
}

void QtPopover::makeKey() {
    panel_->activateWindow();
}

}  // namespace orvel::ui
