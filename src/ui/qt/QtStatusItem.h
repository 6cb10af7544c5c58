#pragma once

#include <QImage>
#include <QPointer>

#include <memory>

#include "foundation/Signal.h"
#include "platform/DesktopSettings.h"
#include "ui/Host.h"
#include "ui/qt/TrayButtonFilter.h"

class QSystemTrayIcon;
class QWidget;

namespace orvel::ui {

// The tray icon through Qt's system tray (an XEmbed tray on X11). Such trays show a square
// picture and nothing beside it, so the picture is the symbol alone, drawn at the tray's size;
// a look's title goes into the tool tip. The symbol carries an outline in the opposite shade
// so it reads on a dark panel and on a light one, whatever the desktop's colour scheme says:
// panels often ignore it. On X11 a click is the release of the left or right button on the
// icon's own window; a middle click does nothing. Without a system tray the item has no button
// and shows nothing. Qt's X11 tray window shows the tool tip itself, from Orvel's own process:
// there the look is asked for as the tool tip shows, so a changing title need not be set before.
class QtStatusItem final : public StatusItem {
  public:
    // The picture follows the desktop's colour scheme, when there is one to follow.
    explicit QtStatusItem(DesktopSettings* desktop = nullptr);
    ~QtStatusItem() override;

    bool hasButton() const override;
    void setLook(StatusItemLook look) override;
    const StatusItemLook& look() const override { return look_; }
    Rect anchorRect() const override;
    bool asksForToolTip() const override { return filtering_; }

    // The colours a look is drawn in: the symbol's fill and its outline.
    struct Colors {
        QColor fill;
        QColor outline;
    };
    static Colors colors(const StatusItemLook& look, ColorScheme scheme);
    // The tray picture of a look: `size` pixels square (times the ratio), the symbol filling it.
    static QImage render(const StatusItemLook& look, ColorScheme scheme, int size = 22,
                         double devicePixelRatio = 1.0);
    // The picture at the common tray size, as shown now.
    const QImage& image() const { return image_; }
    // The tool tip shown now.
    QString toolTip() const;
    // The tray icon itself, for tests that send it the desktop's clicks.
    QSystemTrayIcon& trayIcon() const { return *tray_; }
    // The X11 button route, for tests that send it the tray window's events.
    TrayButtonFilter& buttonFilter() { return buttons_; }
    // How many times the picture was drawn.
    int redraws() const { return redraws_; }

  private:
    void redraw();
    void click(bool rightButton, unsigned modifiers);
    // Qt's own X11 tray window, once it exists.
    QWidget* trayWindow();

    DesktopSettings* desktop_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    TrayButtonFilter buttons_;
    bool filtering_ = false;  // on X11, where the tray window gives releases and tool tips
    std::unique_ptr<QObject> toolTipWatch_;
    QPointer<QWidget> trayWindow_;
    StatusItemLook look_;
    QImage image_;
    ColorScheme drawnScheme_ = ColorScheme::unknown;
    Subscription schemeChanges_;
    int redraws_ = 0;
};

}  // namespace orvel::ui
