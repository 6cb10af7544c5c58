#pragma once

#include <QImage>

#include <memory>

#include "ui/Host.h"

class QSystemTrayIcon;

namespace orvel::ui {

// The tray icon. Trays show only an image, so a look's title is drawn into the image beside the
// symbol. Without a system tray the item has no button and shows nothing.
class QtStatusItem final : public StatusItem {
  public:
    QtStatusItem();
    ~QtStatusItem() override;

    bool hasButton() const override;
    void setLook(StatusItemLook look) override;
    const StatusItemLook& look() const override { return look_; }
    Rect anchorRect() const override;

    // The tray image of a look: the symbol in the tint (or the template colour of the desktop's
    // appearance) and the title after it; `height` is the tray's icon height in pixels.
    static QImage render(const StatusItemLook& look, bool darkAppearance, int height = 22,
                         double devicePixelRatio = 1.0);
    // The image shown now.
    const QImage& image() const { return image_; }
    // The tray icon itself, for tests that send it the desktop's clicks.
    QSystemTrayIcon& trayIcon() const { return *tray_; }
    // How many times the picture was drawn.
    int redraws() const { return redraws_; }

  private:
    std::unique_ptr<QSystemTrayIcon> tray_;
    StatusItemLook look_;
    QImage image_;
    bool drawnDark_ = false;
    int redraws_ = 0;
};

}  // namespace orvel::ui
