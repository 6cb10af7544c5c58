#include "ui/qt/QtWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <sstream>

#include "foundation/RunLoop.h"
#include "platform/UserDefaults.h"
#include "ui/qt/MemoryGiveBack.h"
#include "ui/qt/QtHost.h"
#include "ui/qt/QtRenderer.h"

namespace orvel::ui {

namespace {

// Far above the stretches beside the content: they get room only once it is at its largest.
constexpr int kContentStretch = 10000;

std::string frameKey(const std::string& name) {
    return "NSWindow Frame " + name;
}

}  // namespace

class QtWindow::Frame final : public QWidget {
  public:
    explicit Frame(QtWindow& owner) : owner_(owner) {}

  protected:
    void closeEvent(QCloseEvent* event) override {
        // The window manager's close button hides the window like close() does.
        event->ignore();
        owner_.userClosed();
    }
    // Keys no control took: with the menu bar hidden (no task-bar entry) its Close shortcut
    // does not fire, so every window answers Ctrl+W itself.
    void keyPressEvent(QKeyEvent* event) override {
        const QKeySequence pressed(event->keyCombination());
        if (pressed == QKeySequence(Qt::CTRL | Qt::Key_W) ||
            (pressed == QKeySequence(Qt::Key_Escape) && (owner_.style_ & kWindowClosesOnEscape))) {
            event->accept();
            owner_.userClosed();
            return;
        }
        QWidget::keyPressEvent(event);
    }
    void moveEvent(QMoveEvent* event) override {
        QWidget::moveEvent(event);
        owner_.frameChanged();
    }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        owner_.frameChanged();
    }
    // Presses that no control took land here: the window manager moves the window.
    void mousePressEvent(QMouseEvent* event) override {
        if (owner_.movableByBackground_ && event->button() == Qt::LeftButton && windowHandle()) {
            windowHandle()->startSystemMove();
            return;
        }
        QWidget::mousePressEvent(event);
    }

  public:
    // The native window and its backing store go; showing again makes them anew.
    void releaseNative() { destroy(); }

  private:
    QtWindow& owner_;
};

QtWindow::QtWindow(QtHost& host) : host_(host), frame_(std::make_unique<Frame>(*this)) {
    frame_->setAttribute(Qt::WA_DeleteOnClose, false);
    frame_->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(frame_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    contentArea_ = new QWidget;
    // Content with a largest size stands in the middle of a window made wider, as a tiling
    // compositor makes every window; the stretches beside it take only what it cannot.
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addStretch(1);
    row->addWidget(contentArea_, kContentStretch);
    row->addStretch(1);
    layout->addLayout(row, 1);
    closeShortcut_ = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), frame_.get());
    closeShortcut_->setContext(Qt::WindowShortcut);
    QObject::connect(closeShortcut_, &QShortcut::activated, frame_.get(), [this] { userClosed(); });
    host_.windowCreated(this);
    applyFlags();
    installMenuBar();
}

QtWindow::~QtWindow() {
    host_.windowDestroyed(this);
    // The renderer goes before the view it draws, and both before the widgets.
    renderer_.reset();
    view_.reset();
}

QWidget* QtWindow::widget() const {
    return frame_.get();
}

void QtWindow::setTitle(std::string title) {
    title_ = std::move(title);
    frame_->setWindowTitle(QString::fromStdString(title_));
}

std::string QtWindow::title() const {
    return title_;
}

void QtWindow::setStyle(unsigned style) {
    style_ = style;
    applyFlags();
}

void QtWindow::applyFlags() {
    const bool shown = frame_->isVisible();
    Qt::WindowFlags flags = Qt::Window;
    const bool accessory = host_.application().activationPolicy() != ActivationPolicy::regular;
    if (accessory) {
        flags = Qt::Tool;  // no task-bar entry: the tray icon is the application's face
    }
    if (style_ & kWindowTitled) {
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (style_ & kWindowClosable)
            flags |= Qt::WindowCloseButtonHint;
        if (style_ & kWindowMiniaturizable)
            flags |= Qt::WindowMinimizeButtonHint;
        if (style_ & kWindowResizable)
            flags |= Qt::WindowMaximizeButtonHint;
    } else {
        flags |= Qt::FramelessWindowHint;
    }
    if (level_ == WindowLevel::floating) {
        flags |= Qt::WindowStaysOnTopHint;
    }
    if (frame_->windowFlags() != flags) {
        frame_->setWindowFlags(flags);
        if (shown) {
            frame_->show();
        }
    }
    applyResizable();
}

void QtWindow::applyResizable() {
    if (style_ & kWindowResizable) {
        frame_->setMinimumSize(0, 0);
        frame_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else if (sized_) {
        frame_->setFixedSize(frame_->size());
    }
}

void QtWindow::applyPolicy() {
    applyFlags();
    installMenuBar();
}

void QtWindow::setContent(std::shared_ptr<ViewComponent> content) {
    renderer_.reset();
    view_.reset();
    parked_.reset();
    if (!content) {
        return;
    }
    view_ = std::make_unique<ViewHost>(std::move(content));
    renderer_ = std::make_unique<QtRenderer>(*view_, *contentArea_);
    if (frame_->isVisible()) {
        view_->setShown(true);
    }
}

std::shared_ptr<ViewComponent> QtWindow::content() const {
    return view_ ? view_->root() : parked_;
}

void QtWindow::park() {
    if (!renderer_) {
        return;
    }
    renderer_.reset();
    parked_ = view_->root();
    view_.reset();
    frame_->releaseNative();
    giveBackMemorySoon();
}

void QtWindow::unpark() {
    if (parked_) {
        view_ = std::make_unique<ViewHost>(std::move(parked_));
        parked_.reset();
    }
    if (view_ && !renderer_) {
        renderer_ = std::make_unique<QtRenderer>(*view_, *contentArea_);
    }
}

void QtWindow::setContentSize(double width, double height) {
    sized_ = true;
    const int extra =
        menuBar_ && menuBar_->isVisibleTo(frame_.get()) ? menuBar_->sizeHint().height() : 0;
    if (!(style_ & kWindowResizable)) {
        frame_->setMinimumSize(0, 0);
        frame_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    frame_->resize(static_cast<int>(width), static_cast<int>(height) + extra);
    applyResizable();
}

void QtWindow::setContentMinSize(double width, double height) {
    contentArea_->setMinimumSize(static_cast<int>(width), static_cast<int>(height));
}

void QtWindow::setContentMaxSize(double width, double height) {
    const auto clamp = [](double v) {
        return static_cast<int>(std::min<double>(v, QWIDGETSIZE_MAX));
    };
    contentArea_->setMaximumSize(clamp(width), clamp(height));
}

void QtWindow::setLevel(WindowLevel level) {
    level_ = level;
    applyFlags();
}

void QtWindow::fitToContent() {
    // The content's own size: adjustSize() would give windows that can grow at least 200×100.
    frame_->layout()->activate();
    frame_->resize(frame_->sizeHint().expandedTo(frame_->minimumSizeHint()));
}

void QtWindow::center() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    if (!sized_) {
        fitToContent();
        sized_ = true;
        applyResizable();
    }
    QRect geometry = frame_->frameGeometry();
    geometry.moveCenter(screen->availableGeometry().center());
    frame_->move(geometry.topLeft());
}

bool QtWindow::setFrameAutosaveName(std::string name) {
    autosaveName_ = std::move(name);
    UserDefaults* defaults = host_.capabilities().defaults;
    if (autosaveName_.empty() || defaults == nullptr) {
        return false;
    }
    const auto saved = defaults->stringForKey(frameKey(autosaveName_));
    if (!saved) {
        return false;
    }
    std::istringstream in(*saved);
    int x = 0, y = 0, w = 0, h = 0;
    if (in >> x >> y >> w >> h && w > 0 && h > 0) {
        restoring_ = true;
        frame_->setGeometry(x, y, w, h);
        restoring_ = false;
        sized_ = true;
        return true;
    }
    return false;
}

void QtWindow::setTitlebarAppearsTransparent(bool transparent) {
    // The window manager draws the title bar; its background cannot be taken away from here.
    (void)transparent;
}

void QtWindow::setTitleHidden(bool hidden) {
    // The window manager draws the title bar all the same: blank, it would name the window
    // nowhere, neither there nor in the task bar, the window switcher or a screen reader.
    (void)hidden;
}

void QtWindow::setMovableByWindowBackground(bool movable) {
    movableByBackground_ = movable;
}

void QtWindow::frameChanged() {
    UserDefaults* defaults = host_.capabilities().defaults;
    if (autosaveName_.empty() || restoring_ || !frame_->isVisible() || defaults == nullptr) {
        return;
    }
    const QRect g = frame_->geometry();
    const std::string value = std::to_string(g.x()) + " " + std::to_string(g.y()) + " " +
                              std::to_string(g.width()) + " " + std::to_string(g.height());
    if (defaults->stringForKey(frameKey(autosaveName_)) != value) {
        defaults->setString(frameKey(autosaveName_), value);
    }
}

void QtWindow::makeKeyAndOrderFront() {
    const bool wasVisible = frame_->isVisible();
    unpark();
    if (!sized_) {
        // A window nobody sized fits its content.
        fitToContent();
        sized_ = true;
        applyResizable();
    }
    frame_->show();
    frame_->raise();
    frame_->activateWindow();
    host_.setKeyWindow(this);
    if (view_) {
        view_->setShown(true);
    }
    if (!wasVisible) {
        frameChanged();
    }
}

void QtWindow::close() {
    if (!frame_->isVisible()) {
        return;
    }
    frame_->hide();
    if (host_.keyWindow() == this) {
        host_.setKeyWindow(nullptr);
    }
    if (view_) {
        view_->setShown(false);
    }
    park();
    if (onClose) {
        auto handler = onClose;
        handler();
    }
}

void QtWindow::userClosed() {
    if (style_ & kWindowClosable) {
        close();
    }
}

bool QtWindow::isVisible() const {
    return frame_->isVisible();
}

bool QtWindow::isKey() const {
    return frame_->isVisible() && (host_.keyWindow() == this || frame_->isActiveWindow());
}

void QtWindow::installMenuBar() {
    const bool wanted = host_.application().activationPolicy() == ActivationPolicy::regular &&
                        (style_ & kWindowTitled) && !host_.mainMenu().empty();
    // One shortcut per key: the menu bar's Close takes Ctrl+W while it is shown.
    closeShortcut_->setEnabled(!wanted);
    if (!wanted) {
        if (menuBar_) {
            menuBar_->hide();
        }
        return;
    }
    if (menuBar_ == nullptr) {
        menuBar_ = new QMenuBar(frame_.get());
        static_cast<QVBoxLayout*>(frame_->layout())->insertWidget(0, menuBar_);
    }
    menuBar_->clear();
    QtHost::fillMenu(*menuBar_, host_.mainMenu());
    menuBar_->show();
}

}  // namespace orvel::ui
