#pragma once

#include <memory>
#include <string>

#include "ui/Host.h"
#include "ui/ViewHost.h"

class QMenuBar;
class QShortcut;
class QWidget;

namespace orvel::ui {

class QtHost;
class QtRenderer;

// A top-level window that shows a view. Closing it (by program or from the window manager's
// button) hides it and tells onClose; it stays ready to be shown again.
class QtWindow final : public Window {
  public:
    explicit QtWindow(QtHost& host);
    ~QtWindow() override;

    void setTitle(std::string title) override;
    std::string title() const override;
    void setStyle(unsigned style) override;
    void setContent(std::shared_ptr<ViewComponent> content) override;
    std::shared_ptr<ViewComponent> content() const override;
    void setContentSize(double width, double height) override;
    void setContentMinSize(double width, double height) override;
    void setContentMaxSize(double width, double height) override;
    void setLevel(WindowLevel level) override;
    void center() override;
    bool setFrameAutosaveName(std::string name) override;
    void setTitlebarAppearsTransparent(bool transparent) override;
    void setTitleHidden(bool hidden) override;
    void setMovableByWindowBackground(bool movable) override;
    void makeKeyAndOrderFront() override;
    void close() override;
    bool isVisible() const override;
    bool isKey() const override;

    // The top-level widget, for rendering and tests.
    QWidget* widget() const;
    ViewHost* viewHost() const { return view_.get(); }
    QtRenderer* renderer() const { return renderer_.get(); }
    // Rebuilds the menu bar from the host's main menu (regular applications only).
    void installMenuBar();
    // Follows the application's activation policy.
    void applyPolicy();

  private:
    class Frame;
    friend class Frame;
    void userClosed();
    void frameChanged();
    void applyFlags();
    void applyResizable();
    void fitToContent();
    // A closed window keeps its content, and with it what the user chose, but gives back what
    // showing it built: its view tree, its widgets and its native window, made again when it
    // shows. A closed window's tree would also be evaluated again on every change it observes.
    void park();
    void unpark();

    QtHost& host_;
    std::unique_ptr<Frame> frame_;
    QWidget* contentArea_ = nullptr;
    QMenuBar* menuBar_ = nullptr;
    // Ctrl+W while no menu bar carries it: before the focused control, which may take it as
    // typing (a menu picker searches its items for the character).
    QShortcut* closeShortcut_ = nullptr;
    std::unique_ptr<ViewHost> view_;
    std::shared_ptr<ViewComponent> parked_;  // the content while the window is closed
    std::unique_ptr<QtRenderer> renderer_;
    unsigned style_ = kWindowTitled | kWindowClosable | kWindowMiniaturizable | kWindowResizable;
    WindowLevel level_ = WindowLevel::normal;
    std::string autosaveName_;
    std::string title_;
    bool movableByBackground_ = false;
    bool restoring_ = false;
    bool sized_ = false;
};

}  // namespace orvel::ui
