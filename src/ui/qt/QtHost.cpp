#include "ui/qt/QtHost.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <utility>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "platform/DesktopSettings.h"
#include "platform/HotKeys.h"
#include "platform/linux/PortalFileChooser.h"
#include "ui/ViewHost.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/KeySequence.h"
#include "ui/qt/QtAlert.h"
#include "ui/qt/QtPopover.h"
#include "ui/qt/QtRenderer.h"
#include "ui/qt/QtStatusItem.h"
#include "ui/qt/QtTrayItem.h"
#include "ui/qt/QtWindow.h"

namespace orvel::ui {

namespace {

QStringList nameFilters(const std::vector<std::string>& extensions) {
    if (extensions.empty()) {
        return {};
    }
    QStringList patterns;
    for (const auto& extension : extensions) {
        patterns << "*." + QString::fromStdString(extension);
    }
    return {patterns.join(' ')};
}

// Marks a file dialog as running for as long as it lives.
class PanelRunning {
  public:
    explicit PanelRunning(bool& running) : running_(running) { running_ = true; }
    ~PanelRunning() { running_ = false; }
    PanelRunning(const PanelRunning&) = delete;
    PanelRunning& operator=(const PanelRunning&) = delete;

  private:
    bool& running_;
};

// An accessory view drawn into `area` for as long as this lives.
class AccessoryView {
  public:
    AccessoryView(const std::shared_ptr<ViewComponent>& accessory, QWidget& area) {
        if (accessory) {
            view_ = std::make_unique<ViewHost>(accessory);
            renderer_ = std::make_unique<QtRenderer>(*view_, area);
        }
    }
    ~AccessoryView() {
        if (view_) {
            view_->setShown(false);
        }
        renderer_.reset();
    }
    void shown() {
        if (view_) {
            view_->setShown(true);
        }
    }

  private:
    std::unique_ptr<ViewHost> view_;
    std::unique_ptr<QtRenderer> renderer_;
};

// Shows a dialog in the main loop's modal mode until it is done; whether it was accepted.
bool runDialog(QDialog& dialog, AccessoryView* accessory) {
    std::optional<int> result;
    QObject::connect(&dialog, &QDialog::finished, &dialog, [&result](int code) { result = code; });
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    if (accessory != nullptr) {
        accessory->shown();
    }
    RunLoop::main().runModal([&result] { return result.has_value(); });
    return result == QDialog::Accepted;
}

// Runs Qt's file dialog, with an accessory view under its controls.
std::optional<QStringList> runFileDialog(QFileDialog& dialog,
                                         const std::shared_ptr<ViewComponent>& accessory) {
    std::optional<AccessoryView> view;
    if (accessory) {
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
            // Set off from the buttons above and the window's edge below.
            auto* area = new QWidget;
            area->setContentsMargins(0, 6, 0, 10);
            view.emplace(accessory, *area);
            grid->addWidget(area, grid->rowCount(), 0, 1, grid->columnCount());
        }
    }
    if (!runDialog(dialog, view ? &*view : nullptr)) {
        return std::nullopt;
    }
    return dialog.selectedFiles();
}

// The accessory of a panel the desktop's chooser drew, asked after the file was chosen.
bool runAccessoryDialog(const SavePanelOptions& request, const std::string& path) {
    QDialog dialog;
    dialog.setWindowTitle(QString::fromStdString(request.title));
    auto* layout = new QVBoxLayout(&dialog);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(12);
    auto* file = new QLabel(QString::fromStdString(path));
    file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(file);
    auto* area = new QWidget;
    layout->addWidget(area, 0, Qt::AlignLeft);
    AccessoryView view(request.accessory, *area);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    QPushButton* accept =
        buttons->addButton(QString::fromStdString(request.prompt.empty() ? "Save" : request.prompt),
                           QDialogButtonBox::AcceptRole);
    accept->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    return runDialog(dialog, &view);
}

std::vector<std::pair<std::string, std::vector<std::string>>> portalFilters(
    const std::vector<std::string>& extensions) {
    if (extensions.empty()) {
        return {};
    }
    std::vector<std::string> patterns;
    std::string name;
    for (const auto& extension : extensions) {
        patterns.push_back("*." + extension);
        name += (name.empty() ? "" : ", ") + patterns.back();
    }
    return {{name, patterns}};
}

template <class Target>
void addItems(Target& target, const std::vector<MenuBarItem>& items) {
    for (const MenuBarItem& item : items) {
        if (item.separator) {
            target.addSeparator();
            continue;
        }
        const QString title = QString::fromStdString(item.title);
        if (!item.submenu.empty() || item.role != MenuRole::none) {
            QMenu* menu = target.addMenu(title);
            menu->setEnabled(item.enabled);
            addItems(*menu, item.submenu);
            continue;
        }
        QAction* action = target.addAction(title);
        const StandardAction standard = item.standardAction;
        action->setEnabled(item.enabled &&
                           (static_cast<bool>(item.action) || standard != StandardAction::none));
        if (item.keyEquivalent) {
            action->setShortcut(keySequence(*item.keyEquivalent));
        }
        auto fn = item.action;
        QObject::connect(action, &QAction::triggered, action, [fn, standard] {
            if (fn)
                fn();
            else if (standard != StandardAction::none)
                UiHost::current().performStandardAction(standard);
        });
    }
}

// Key downs in Orvel's windows go to the shortcut's local monitors before the focused control;
// a key a monitor takes goes no further.
class LocalKeyFilter final : public QObject {
  public:
    explicit LocalKeyFilter(HotKeys& hotKeys) : hotKeys_(hotKeys) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        // Asked once per key: where the key is first delivered, not again as it propagates.
        QWidget* target = QApplication::focusWidget();
        if (target == nullptr) {
            target = QApplication::activeWindow();
        }
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched != target || key->isAutoRepeat()) {
            return false;
        }
        return hotKeys_.deliverLocalKey(QtHost::keyPressOf(*key));
    }

  private:
    HotKeys& hotKeys_;
};

}  // namespace

// Host -----------------------------------------------------------------------------------------

KeyPress QtHost::keyPressOf(const QKeyEvent& event) {
    const Qt::KeyboardModifiers held = event.modifiers();
    std::uint64_t flags = 0;
    if (held & Qt::ShiftModifier)
        flags |= 0x20000;
    if (held & Qt::ControlModifier)
        flags |= 0x40000;
    if (held & Qt::AltModifier)
        flags |= 0x80000;
    if (held & Qt::MetaModifier)
        flags |= 0x100000;  // Super on X11
    // The C key is the only one a shortcut names; any other reads as none.
    return KeyPress{static_cast<std::uint16_t>(event.key() == Qt::Key_C ? 8 : 0xFFFF), flags};
}

QtHost::QtHost(HostCapabilities capabilities)
    : UiHost(capabilities), screenWatch_(std::make_unique<QObject>()) {
    for (QScreen* screen : QGuiApplication::screens()) {
        watchScreen(screen);
    }
    QObject::connect(qApp, &QGuiApplication::screenAdded, screenWatch_.get(), [this](QScreen* s) {
        watchScreen(s);
        screensChanged.send();
    });
    QObject::connect(qApp, &QGuiApplication::screenRemoved, screenWatch_.get(),
                     [this](QScreen*) { screensChanged.send(); });
    if (HotKeys* hotKeys = capabilities.hotKeys) {
        keyFilter_ = std::make_unique<LocalKeyFilter>(*hotKeys);
        qApp->installEventFilter(keyFilter_.get());
    }
    if (DesktopSettings* desktop = capabilities.desktopSettings) {
        schemeChanges_ =
            desktop->colorSchemeChanged.subscribe([this](ColorScheme) { followColorScheme(); });
        followColorScheme();
    }
}

void QtHost::followColorScheme() {
    const ColorScheme scheme = capabilities().desktopSettings->colorScheme();
    if (scheme != ColorScheme::unknown && !desktopPalette_) {
        desktopPalette_ = std::make_unique<QPalette>(QApplication::palette());
    }
    switch (scheme) {
        case ColorScheme::dark:
            Appearance::apply(true);
            break;
        case ColorScheme::light:
            Appearance::apply(false);
            break;
        case ColorScheme::unknown:
            // The desktop said nothing (or took it back): its own palette, as Qt found it.
            if (desktopPalette_) {
                QApplication::setPalette(*desktopPalette_);
            }
            break;
    }
}

QtHost::~QtHost() = default;

void QtHost::watchScreen(QScreen* screen) {
    QObject::connect(screen, &QScreen::geometryChanged, screenWatch_.get(),
                     [this](const QRect&) { screensChanged.send(); });
}

void QtHost::windowCreated(QtWindow* window) {
    windows_.push_back(window);
}

void QtHost::windowDestroyed(QtWindow* window) {
    std::erase(windows_, window);
    if (key_ == window) {
        key_ = nullptr;
    }
}

std::unique_ptr<Window> QtHost::makeWindow() {
    return std::make_unique<QtWindow>(*this);
}

std::unique_ptr<StatusItem> QtHost::makeStatusItem() {
    return QtTrayItem::make([desktop = capabilities().desktopSettings] {
        return std::make_unique<QtStatusItem>(desktop);
    });
}

std::unique_ptr<Popover> QtHost::makePopover() {
    return std::make_unique<QtPopover>();
}

std::shared_ptr<Alert> QtHost::makeAlert(AlertContent request) {
    return std::make_shared<QtAlert>(std::move(request));
}

void QtHost::useFileChooserPortal(std::shared_ptr<DBusConnection> sessionBus) {
    portalBus_ = std::move(sessionBus);
}

std::string QtHost::parentWindow() const {
    // The portal takes X11 windows by id; a Wayland window would have to be exported first.
    if (QGuiApplication::platformName() != "xcb") {
        return {};
    }
    QWidget* active = QApplication::activeWindow();
    if (active == nullptr && key_ != nullptr && key_->isVisible()) {
        active = key_->widget();
    }
    return active != nullptr ? "x11:" + QString::number(active->winId(), 16).toStdString() : "";
}

std::optional<std::optional<std::vector<std::string>>> QtHost::askPortal(
    FileChooserRequest request) {
    if (!portalBus_) {
        return std::nullopt;
    }
    request.parentWindow = parentWindow();
    std::optional<FileChooserAnswer> answer;
    PortalFileChooser chooser(portalBus_, request,
                              [&answer](FileChooserAnswer a) { answer = std::move(a); });
    RunLoop::main().runModal([&answer] { return answer.has_value(); });
    switch (answer->outcome) {
        case FileChooserAnswer::Outcome::chosen:
            return answer->paths;
        case FileChooserAnswer::Outcome::cancelled:
            return std::optional<std::vector<std::string>>();
        case FileChooserAnswer::Outcome::unavailable:
            break;
    }
    if (!portalMissingLogged_) {
        portalMissingLogged_ = true;
        Logger("desktop").info(
            "File dialogs are Qt's own: the desktop's file chooser did not answer (" +
            answer->reason + ").");
    }
    return std::nullopt;
}

std::string QtHost::startFolder(const std::string& asked) const {
    std::error_code error;
    for (const std::string& folder : {asked, lastFolder_}) {
        if (!folder.empty() && std::filesystem::is_directory(folder, error)) {
            return folder;
        }
    }
    return QDir::homePath().toStdString();
}

void QtHost::chosen(const std::vector<std::string>& paths) {
    if (!paths.empty()) {
        lastFolder_ = std::filesystem::path(paths.front()).parent_path().string();
    }
}

std::optional<std::string> QtHost::runSavePanel(const SavePanelOptions& request) {
    if (panelRunning_) {
        return std::nullopt;  // one file dialog at a time
    }
    const PanelRunning running(panelRunning_);
    FileChooserRequest portal;
    portal.kind = FileChooserRequest::Kind::save;
    portal.title = request.title;
    portal.acceptLabel = request.prompt;
    portal.filters = portalFilters(request.allowedExtensions);
    portal.currentName = request.nameFieldValue;
    portal.currentFolder = startFolder(request.directory);
    if (auto answer = askPortal(portal)) {
        if (!*answer || (*answer)->empty()) {
            return std::nullopt;
        }
        chosen(**answer);
        std::string path = (*answer)->front();
        // As Qt's dialog does: a name typed without one of the allowed extensions gets the first.
        const std::string extension = std::filesystem::path(path).extension().string();
        const auto& allowed = request.allowedExtensions;
        if (!allowed.empty() &&
            (extension.empty() ||
             std::find(allowed.begin(), allowed.end(), extension.substr(1)) == allowed.end())) {
            path += "." + allowed.front();
        }
        if (request.accessory && !runAccessoryDialog(request, path)) {
            return std::nullopt;
        }
        return path;
    }

    QFileDialog dialog;
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setWindowTitle(QString::fromStdString(request.title));
    if (!request.prompt.empty())
        dialog.setLabelText(QFileDialog::Accept, QString::fromStdString(request.prompt));
    dialog.setDirectory(QString::fromStdString(startFolder(request.directory)));
    dialog.setNameFilters(nameFilters(request.allowedExtensions));
    if (!request.allowedExtensions.empty())
        dialog.setDefaultSuffix(QString::fromStdString(request.allowedExtensions.front()));
    if (!request.nameFieldValue.empty())
        dialog.selectFile(QString::fromStdString(request.nameFieldValue));
    const auto files = runFileDialog(dialog, request.accessory);
    if (!files || files->isEmpty()) {
        return std::nullopt;
    }
    chosen({files->front().toStdString()});
    return files->front().toStdString();
}

std::optional<std::vector<std::string>> QtHost::runOpenPanel(const OpenPanelOptions& request) {
    if (panelRunning_) {
        return std::nullopt;  // one file dialog at a time
    }
    const PanelRunning running(panelRunning_);
    // The portal's chooser has no room for an accessory view; it has places of its own.
    if (!request.accessory) {
        FileChooserRequest portal;
        portal.title = request.title;
        portal.acceptLabel = request.prompt;
        portal.multiple = request.allowsMultipleSelection;
        portal.directory = request.canChooseDirectories && !request.canChooseFiles;
        portal.filters = portalFilters(request.allowedExtensions);
        portal.currentFolder = startFolder(request.directory);
        if (auto answer = askPortal(portal)) {
            if (*answer) {
                chosen(**answer);
            }
            return *answer;
        }
    }

    QFileDialog dialog;
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (request.canChooseDirectories && !request.canChooseFiles) {
        dialog.setFileMode(QFileDialog::Directory);
    } else {
        dialog.setFileMode(request.allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                           : QFileDialog::ExistingFile);
    }
    dialog.setWindowTitle(QString::fromStdString(request.title));
    if (!request.prompt.empty())
        dialog.setLabelText(QFileDialog::Accept, QString::fromStdString(request.prompt));
    dialog.setDirectory(QString::fromStdString(startFolder(request.directory)));
    dialog.setNameFilters(nameFilters(request.allowedExtensions));
    if (!request.places.empty()) {
        QList<QUrl> places = dialog.sidebarUrls();
        for (const auto& place : request.places) {
            places << QUrl::fromLocalFile(QString::fromStdString(place));
        }
        dialog.setSidebarUrls(places);
    }
    const auto files = runFileDialog(dialog, request.accessory);
    if (!files) {
        return std::nullopt;
    }
    std::vector<std::string> paths;
    for (const QString& file : *files) {
        paths.push_back(file.toStdString());
    }
    chosen(paths);
    return paths;
}

void QtHost::setMainMenu(std::vector<MenuBarItem> menus) {
    menus_ = std::move(menus);
    for (QtWindow* window : windows_) {
        window->installMenuBar();
    }
}

void QtHost::performStandardAction(StandardAction action) {
    QWidget* focus = QApplication::focusWidget();
    // The window the desktop made active, else the one last brought to the front.
    QtWindow* key = key_ != nullptr && key_->isVisible() ? key_ : nullptr;
    for (QtWindow* window : windows_) {
        if (window->widget() == QApplication::activeWindow() && window->isVisible()) {
            key = window;
        }
    }
    // Text fields and editors have these as slots of the same names.
    const auto edit = [focus](const char* slot) {
        if (focus != nullptr &&
            focus->metaObject()->indexOfSlot((std::string(slot) + "()").c_str()) >= 0) {
            QMetaObject::invokeMethod(focus, slot);
        }
    };
    switch (action) {
        case StandardAction::none:
            break;
        case StandardAction::undo:
            edit("undo");
            break;
        case StandardAction::redo:
            edit("redo");
            break;
        case StandardAction::cut:
            edit("cut");
            break;
        case StandardAction::copy:
            edit("copy");
            break;
        case StandardAction::paste:
            edit("paste");
            break;
        case StandardAction::deleteSelection:
            if (auto* line = qobject_cast<QLineEdit*>(focus)) {
                line->del();
            } else if (auto* text = qobject_cast<QTextEdit*>(focus)) {
                text->textCursor().removeSelectedText();
            } else if (auto* plain = qobject_cast<QPlainTextEdit*>(focus)) {
                plain->textCursor().removeSelectedText();
            }
            break;
        case StandardAction::selectAll:
            edit("selectAll");
            break;
        case StandardAction::minimize:
            if (key != nullptr) {
                key->widget()->showMinimized();
            }
            break;
        case StandardAction::zoom:
            if (key != nullptr) {
                QWidget* w = key->widget();
                w->isMaximized() ? w->showNormal() : w->showMaximized();
            }
            break;
        case StandardAction::close:
            if (key != nullptr) {
                key->close();
            }
            break;
        case StandardAction::bringAllToFront:
            for (QtWindow* window : windows_) {
                if (window->isVisible()) {
                    window->widget()->raise();
                }
            }
            if (key != nullptr) {
                key->widget()->raise();
            }
            break;
        case StandardAction::hide:
            // No desktop here hides an application as a whole: its windows go to the task bar.
            for (QtWindow* window : windows_) {
                if (window->isVisible()) {
                    window->widget()->showMinimized();
                }
            }
            break;
        case StandardAction::hideOthers:
        case StandardAction::showAll:
            // Other applications are the desktop's business.
            break;
        case StandardAction::quit:
            application_.terminate();
            break;
    }
}

void QtHost::fillMenu(QMenuBar& bar, const std::vector<MenuBarItem>& items) {
    addItems(bar, items);
}

void QtHost::fillMenu(QMenu& menu, const std::vector<MenuBarItem>& items) {
    addItems(menu, items);
}

std::optional<Rect> QtHost::mainScreenVisibleFrame() const {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return std::nullopt;
    }
    const QRect g = screen->availableGeometry();
    return Rect{double(g.x()), double(g.y()), double(g.width()), double(g.height())};
}

std::vector<ScreenInfo> QtHost::screens() const {
    std::vector<ScreenInfo> list;
    QScreen* primary = QGuiApplication::primaryScreen();
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        ScreenInfo info{{double(g.x()), double(g.y()), double(g.width()), double(g.height())},
                        screen->name().toStdString()};
        if (screen == primary) {
            list.insert(list.begin(), std::move(info));
        } else {
            list.push_back(std::move(info));
        }
    }
    return list;
}

bool QtHost::isDarkAppearance() const {
    return Appearance::isDark(QApplication::palette());
}

}  // namespace orvel::ui
