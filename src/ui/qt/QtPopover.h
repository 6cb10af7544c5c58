#pragma once

#include <QString>

#include <memory>

#include <QString>

#include "ui/Host.h"
#include "ui/ViewHost.h"

class QWidget;

namespace orvel {
class SwayWindowPlacement;
class WlrClickCatcher;
}  // namespace orvel

namespace orvel::ui {

class QtRenderer;

// A borderless panel that opens under (or over) the tray icon, or at the pointer when the tray
// does not tell where it is. A transient one closes when the user clicks elsewhere: on X11 it is
// a popup that does so by itself. On Wayland a popup is drawn inside the window that had the
// input last, so there the panel is a window of its own, of a fixed size so that tiling
// compositors float it, and a transient one closes when it loses the focus. Orvel's X11 windows
// under sway are the same: an X popup would not see a click on the bar. On sway, which places
// no client's window where asked, sway's IPC puts the panel by the pointer; and since a click on
// a bar there moves no focus, a cover over everything but the panel hears it.
class QtPopover final : public Popover {
  public:
    // `platform`: the Qt platform whose windows the panel is made for.
    explicit QtPopover(const QString& platform = defaultPlatform());
    static QString defaultPlatform();
    ~QtPopover() override;

    void setContent(std::shared_ptr<ViewComponent> content) override;
    bool hasContent() const override { return view_ != nullptr; }
    void setContentSize(double width, double height) override;
    void setTransient(bool transient) override;
    void show(StatusItem& anchor) override;
    void close() override;
    bool isShown() const override;
    void makeKey() override;
    void setWindowed(bool windowed) override;
    bool isWindowed() const { return windowed_; }

    // The title of the panel's own window.
    static constexpr const char* kWindowTitle = "Orvel Panel";

    // Shows the panel at a place on screen (anchor rect) — what show() does with the item's.
    void showAt(const Rect& anchor);
    QWidget* widget() const;
    ViewHost* viewHost() const { return view_.get(); }

  private:
    class Panel;
    friend class Panel;
    void hidden();
    void deactivated();
    void focusFirstControl();
    void applyWindowFlags();

    std::unique_ptr<Panel> panel_;
    QWidget* content_ = nullptr;
    std::unique_ptr<ViewHost> view_;
    std::unique_ptr<QtRenderer> renderer_;
    bool transient_ = false;
    bool ownWindow_ = false;  // a window of its own rather than a popup
    // When a transient panel last closed on losing the focus (uptime; negative: never).
    double lostFocusAt_ = -1;
    bool windowed_ = false;
    bool closing_ = false;  // close() is hiding the panel
    QString panelTitle_;
    double width_ = 0, height_ = 0;
    std::unique_ptr<SwayWindowPlacement> sway_;
    std::unique_ptr<WlrClickCatcher> outsideClicks_;
};

}  // namespace orvel::ui
