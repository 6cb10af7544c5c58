#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "ui/Host.h"
#include "ui/qt/QtApplication.h"
#include "ui/qt/QtPasteboard.h"

class QMenu;
class QMenuBar;
class QObject;
class QScreen;

namespace orvel::ui {

class QtWindow;

// The host that draws with Qt Widgets. Needs a QApplication (and, to run, a QtRunLoop installed
// as the main loop). Main thread only.
class QtHost final : public UiHost {
  public:
    explicit QtHost(HostCapabilities capabilities = {});
    ~QtHost() override;

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

    QtApplication application_{*this};
    QtPasteboard pasteboard_;
    std::vector<MenuBarItem> menus_;
    std::vector<QtWindow*> windows_;
    QtWindow* key_ = nullptr;
    // The context of the screen connections, so none outlives the host.
    std::unique_ptr<QObject> screenWatch_;
};

}  // namespace orvel::ui
