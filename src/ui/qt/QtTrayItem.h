#pragma once

#include <functional>
#include <memory>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/Signal.h"
#include "platform/linux/DBusConnection.h"
#include "platform/linux/X11TraySelection.h"
#include "ui/Host.h"

namespace orvel::ui {

class QtNotifierStatusItem;

// The status item the Qt host gives out: our StatusNotifierItem where the session bus has a
// watcher (the desktop draws it, label and all), the XEmbed icon where it has none. Until the
// bus has answered nothing is shown and the look is kept; a watcher that appears later takes the
// item over, and one that goes away keeps it (the item registers again when it is back). The
// XEmbed icon is made only once no watcher is there: Qt's own tray icon would register a second
// item with the watcher. The item is in a tray while the watcher says a host shows its items, or
// while the XEmbed icon has a system tray (its X selection watched; on X without a connection of
// our own, looked for every few seconds).
class QtTrayItem final : public StatusItem {
  public:
    using Factory = std::function<std::unique_ptr<StatusItem>()>;

    // `bus` is the session bus (none: the XEmbed icon at once).
    QtTrayItem(std::shared_ptr<DBusConnection> bus, Factory makeXEmbedItem);
    ~QtTrayItem() override;
    // On the user's session bus.
    static std::unique_ptr<QtTrayItem> make(Factory makeXEmbedItem);

    bool hasButton() const override;
    void setLook(StatusItemLook look) override;
    // Kept for the item to come, like the look.
    void setMenu(std::vector<StatusMenuEntry> entries) override;
    const StatusItemLook& look() const override { return look_; }
    Rect anchorRect() const override;
    std::optional<bool> isInTray() const override;
    bool asksForToolTip() const override { return chosen_ != nullptr && chosen_->asksForToolTip(); }
    bool showsTitle() const override { return chosen_ == nullptr || chosen_->showsTitle(); }

    // The item that shows the look now; none until the bus has answered.
    StatusItem* chosen() const { return chosen_; }
    QtNotifierStatusItem* notifier() const { return notifier_.get(); }

    // Whether the XEmbed tray is looked for every kXEmbedCheckSeconds (X, and its selection
    // could not be watched).
    bool pollsForTray() const { return xembedCheck_.isValid(); }

    static constexpr double kXEmbedCheckSeconds = 5;

  private:
    void choose();
    void show(StatusItem* item);
    // Tells onTrayChanged when isInTray() or showsTitle() gave another answer than last told.
    void trayMaybeChanged();
    void tell();

    Factory makeXEmbedItem_;
    std::unique_ptr<QtNotifierStatusItem> notifier_;
    std::unique_ptr<StatusItem> xembed_;
    StatusItem* chosen_ = nullptr;
    StatusItemLook look_;
    bool hasLook_ = false;
    Subscription watcherSubscription_;
    Subscription hostSubscription_;
    void watchXEmbedTray();

    std::unique_ptr<X11TraySelection> traySelection_;
    Subscription traySelectionSubscription_;
    Timer xembedCheck_;
    std::optional<bool> toldInTray_;
    bool toldShowsTitle_ = true;
    Logger log_{"tray"};
};

}  // namespace orvel::ui
