#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Signal.h"
#include "platform/HotKeys.h"
#include "ui/Host.h"
#include "ui/qt/QtApplication.h"
#include "ui/qt/QtPasteboard.h"

class QKeyEvent;
class QMenu;
class QMenuBar;
class QObject;
class QPalette;
class QScreen;

namespace orvel {
class DBusConnection;
struct FileChooserRequest;
}  // namespace orvel

namespace orvel::ui {

class QtWindow;

// The host that draws with Qt Widgets. Needs a QApplication (and, to run, a QtRunLoop installed
// as the main loop). Windows take the desktop's colour scheme when it tells one, also while they
// are open. File panels go to the desktop's file chooser portal when one answers on the session
// bus given, else they are Qt's own dialog; either way the main loop turns while the user
// chooses. Main thread only.
class QtHost final : public UiHost {
  public:
    explicit QtHost(HostCapabilities capabilities = {});
    ~QtHost() override;

    // A key down as the shortcut's monitors read it: the C key as 8, any other as 0xFFFF, with
    // monitor flags for Shift, Control, Alt and Super.
    static KeyPress keyPressOf(const QKeyEvent& event);

    QtApplication& application() override { return application_; }
    std::unique_ptr<Window> makeWindow() override;
    std::unique_ptr<StatusItem> makeStatusItem() override;
    std::unique_ptr<Popover> makePopover() override;
    std::shared_ptr<Alert> makeAlert(AlertContent request) override;
    std::optional<std::string> runSavePanel(const SavePanelOptions& request) override;
    std::optional<std::vector<std::string>> runOpenPanel(const OpenPanelOptions& request) override;
    void setMainMenu(std::vector<MenuBarItem> menus) override;
    void performStandardAction(StandardAction action) override;
    QtPasteboard& pasteboard() override { return pasteboard_; }
    std::optional<Rect> mainScreenVisibleFrame() const override;
    std::vector<ScreenInfo> screens() const override;
    bool isDarkAppearance() const override;

    // The session bus whose file chooser portal the file panels ask first; none: Qt's dialog.
    void useFileChooserPortal(std::shared_ptr<DBusConnection> sessionBus);

    const std::vector<MenuBarItem>& mainMenu() const { return menus_; }
    const std::vector<QtWindow*>& windows() const { return windows_; }
    QtWindow* keyWindow() const { return key_; }

    // The menu bar's menus and items, with their key equivalents.
    static void fillMenu(QMenuBar& bar, const std::vector<MenuBarItem>& items);
    static void fillMenu(QMenu& menu, const std::vector<MenuBarItem>& items);

  private:
    friend class QtWindow;
    friend class QtApplication;
    void windowCreated(QtWindow* window);
    void windowDestroyed(QtWindow* window);
    void setKeyWindow(QtWindow* window) { key_ = window; }
    void watchScreen(QScreen* screen);
    void followColorScheme();
    // The portal's answer: the paths chosen, or none when cancelled; nothing at all when no
    // portal answered, so Qt's dialog is to be shown.
    std::optional<std::optional<std::vector<std::string>>> askPortal(FileChooserRequest request);
    std::string parentWindow() const;
    // Where a panel opens: the folder asked for where it is one, else the folder the last panel
    // chose in, else home; never the program's working folder.
    std::string startFolder(const std::string& asked) const;
    // Keeps the folder of the first path chosen for the next panel.
    void chosen(const std::vector<std::string>& paths);

    QtApplication application_{*this};
    QtPasteboard pasteboard_;
    std::vector<MenuBarItem> menus_;
    std::vector<QtWindow*> windows_;
    QtWindow* key_ = nullptr;
    // The context of the screen connections, so none outlives the host.
    std::unique_ptr<QObject> screenWatch_;
    // Hands key downs in Orvel's windows to the shortcut's local monitors.
    std::unique_ptr<QObject> keyFilter_;
    Subscription schemeChanges_;
    // Qt's palette before the desktop's scheme replaced it.
    std::unique_ptr<QPalette> desktopPalette_;
    std::shared_ptr<DBusConnection> portalBus_;
    bool portalMissingLogged_ = false;
    bool panelRunning_ = false;
    std::string lastFolder_;
};

}  // namespace orvel::ui
