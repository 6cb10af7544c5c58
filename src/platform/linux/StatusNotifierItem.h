#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "foundation/Signal.h"
#include "foundation/WeakRef.h"
#include "platform/linux/DBusConnection.h"
#include "platform/linux/DBusMenu.h"

// A tray item served on the session bus as a StatusNotifierItem: the desktop's tray (the host)
// draws it, in its own colours when the icon is a themed symbolic one, shows its label beside it
// and sends its clicks back as method calls. Threading: main thread only.

namespace orvel {

// One picture of the item at one size: ARGB32, each pixel's bytes in network order (A, R, G, B).
struct StatusNotifierPixmap {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> argb;

    bool operator==(const StatusNotifierPixmap&) const = default;
};

// What the item shows.
struct StatusNotifierLook {
    std::string title = "Orvel";
    std::string status = "Active";
    // A name in the icon theme (empty: hosts draw the pixmaps) and a folder with theme trees.
    std::string iconName;
    std::string iconThemePath;
    std::vector<StatusNotifierPixmap> pixmaps;
    std::string toolTipTitle;
    std::string toolTipText;
    // Text beside the icon, and the widest text it takes while its form stays the same.
    std::string label;
    std::string labelGuide;

    bool operator==(const StatusNotifierLook&) const = default;
};

class StatusNotifierItem final : public WeakReferenceable {
  public:
    // Serves the item on `bus` under a name of its own and registers it with the watcher
    // whenever one is there. Fails when the object cannot be served (one item per connection:
    // its path is fixed).
    static Result<std::unique_ptr<StatusNotifierItem>> make(std::shared_ptr<DBusConnection> bus);
    ~StatusNotifierItem();
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    // Tells the host what changed: each New… signal goes out only for a part that changed.
    void setLook(StatusNotifierLook look);
    const StatusNotifierLook& look() const { return look_; }

    // The entries of the item's menu, top to bottom. The host learns of a change: new labels
    // and states as such, a new set of entries as a new layout.
    void setMenu(std::vector<StatusNotifierMenuItem> items) { menu_.setItems(std::move(items)); }
    const std::vector<StatusNotifierMenuItem>& menu() const { return menu_.items(); }
    // Whether the item offers its menu (the Menu property and /MenuBar). Hosts show an item's
    // menu on the right button instead of sending ContextMenu, and read whether there is one
    // only as the item comes: a change goes to them as a new item, under a new bus name.
    void setOffersMenu(bool offers);
    bool offersMenu() const { return offersMenu_; }

    const std::string& busName() const { return busName_; }
    // Whether a watcher is on the bus (unknown until the bus has answered).
    BusNameState watcher() const { return watcher_->state(); }
    // Whether the present watcher accepted the item.
    bool isRegistered() const { return registered_; }
    // Whether a host (a panel's tray) shows the watcher's items: false without a watcher,
    // unknown until the watcher has said.
    std::optional<bool> hasHost() const { return hasHost_; }
    // Whether the host draws the label beside the icon: false only while every host on the bus
    // is a tray known to draw none (Plasma's, Xfce's status tray, waybar's) and the watcher is
    // one of them or a watcher alone; unknown until they are known. No host says so itself.
    std::optional<bool> hostShowsLabel() const { return hostShowsLabel_; }
    // A process's arguments by its id, read from /proc (tests give others).
    std::function<std::vector<std::string>(std::uint32_t pid)> processArguments;
    // What a program on the bus is, by its arguments, as far as labels go.
    enum class TrayKind { drawsNoLabel, watcherAlone, other };
    static TrayKind trayKind(const std::vector<std::string>& arguments);

    // The host's clicks: the primary button, and the context button, at a point on screen.
    std::function<void(int x, int y)> onActivate;
    std::function<void(int x, int y)> onContextMenu;
    // An entry of the menu chosen, by its id.
    std::function<void(int id)> onMenuItem;
    // The host is about to show the menu, which it does at the item.
    std::function<void()> onMenuOpening;

    // Sent when the watcher comes or goes, with its new state.
    Signal<BusNameState> watcherChanged;
    // Sent when hasHost() or hostShowsLabel() changes.
    Signal<> hostChanged;

    // The widest text of the same form as `label`: every digit a zero.
    static std::string guideFor(const std::string& label);

    static constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
    static constexpr const char* kPath = "/StatusNotifierItem";
    static constexpr const char* kInterface = "org.kde.StatusNotifierItem";
    static constexpr const char* kMenuPath = DBusMenu::kPath;
    static constexpr const char* kMenuInterface = DBusMenu::kInterface;

  private:
    explicit StatusNotifierItem(std::shared_ptr<DBusConnection> bus);
    Result<void> serve();
    // org.kde.StatusNotifierItem, its properties read from the look as the host asks.
    DBusInterface itemInterface();
    // A click of the primary or the context button, handed to the loop's next turn.
    DBusInterface::Method click(const char* member, bool primary);
    // Registers with each watcher that comes and follows whether a host shows the items.
    Result<void> followWatcher();
    // Stops serving and releases the bus name, as an item that leaves does.
    void withdraw();
    // Hands a call's work to the loop's next turn, while the item lives.
    void later(std::function<void(StatusNotifierItem&)> work);
    void registerWithWatcher();
    void setRegistered(bool registered);
    void readHost();
    void setHost(std::optional<bool> hasHost);
    void readTrays();
    void forgetTrays();
    void setShowsLabel(std::optional<bool> shows);
    void emit(const char* member, const DBusConnection::Append& append = nullptr);

    std::shared_ptr<DBusConnection> bus_;
    std::string busName_;
    StatusNotifierLook look_;
    DBusMenu menu_;
    bool offersMenu_ = true;
    bool nameOwned_ = false;
    bool registered_ = false;
    std::optional<bool> hasHost_;
    std::optional<bool> hostShowsLabel_;
    // Each reading of the trays is newer than the last; answers to an older one are dropped.
    std::uint64_t traysReading_ = 0;
    std::shared_ptr<BusName> watcher_;
    Subscription watcherSubscription_;
    Subscription ownerSubscription_;
    DBusSlot object_;
    DBusSlot nameRequest_;
    DBusSlot registration_;
    DBusSlot hostRead_;
    DBusSlot hostSignals_;
    DBusSlot trayNames_;
    std::vector<DBusSlot> trayProcesses_;
    Logger log_{"tray"};
};

}  // namespace orvel
