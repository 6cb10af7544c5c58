#pragma once

#include <QImage>
#include <QPoint>

#include <memory>
#include <optional>
#include <string>

#include "platform/linux/StatusNotifierItem.h"
#include "ui/Host.h"

namespace orvel::ui {

// The status item as a StatusNotifierItem: the desktop's tray draws the symbol (the themed icon,
// drawn as our pictures are, or the pictures themselves), shows the title as a label beside it and
// sends the clicks with the point they happened at.
class QtNotifierStatusItem final : public StatusItem {
  public:
    explicit QtNotifierStatusItem(std::unique_ptr<StatusNotifierItem> service);
    ~QtNotifierStatusItem() override;

    bool hasButton() const override { return true; }
    void setLook(StatusItemLook look) override;
    // Served as the item's menu.
    void setMenu(std::vector<StatusMenuEntry> entries) override;
    const StatusItemLook& look() const override { return look_; }
    bool showsTitle() const override { return service_->hostShowsLabel() != false; }
    // A point: where the host says the click happened, where that is a place on the screen;
    // under the pointer otherwise.
    Rect anchorRect() const override;
    // Where a panel opened by a click goes, from the point the host gave (none: it gave none),
    // the pointer and the Qt platform Orvel runs on.
    static QPoint anchorFor(std::optional<QPoint> host, QPoint pointer, const QString& platform);

    StatusNotifierItem& service() { return *service_; }

    // What the host is given for a menu.
    static std::vector<StatusNotifierMenuItem> notifierMenu(
        const std::vector<StatusMenuEntry>& entries);
    // What the host is given for a look; one that draws no label gets the coarse title.
    static StatusNotifierLook notifierLook(const StatusItemLook& look, bool hostShowsLabel = true);
    // The symbol drawn for hosts without our theme: a light glyph (or the tint) with a dark
    // rim, so it reads on dark and light panels alike; premultiplied ARGB.
    static QImage render(const StatusItemLook& look, int side);
    // The themed icon's name for a look; empty where only the pictures can show it.
    static std::string iconName(const StatusItemLook& look);
    // The folder that holds our hicolor/scalable/status icons.
    static std::string iconThemePath();

    static constexpr int kPixmapSides[] = {16, 22, 32, 48};

  private:
    void clicked(bool contextButton, int x, int y);

    std::unique_ptr<StatusNotifierItem> service_;
    StatusItemLook look_;
    std::optional<QPoint> clickedAt_;
    bool pointerAtMenu_ = false;  // clickedAt_ is the pointer as the host's menu opened
};

}  // namespace orvel::ui
