#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/Result.h"
#include "platform/linux/DBusConnection.h"

// A flat menu served on the session bus as com.canonical.dbusmenu, the menu a tray item names:
// the host reads its entries as a layout under a root (id 0) and sends back the user's clicks.
// Threading: main thread only.

namespace orvel {

class DBusWriter;

// One entry of the tray item's menu, as hosts that show a menu read it.
struct StatusNotifierMenuItem {
    // Above zero, and the same for an entry while it stays in the menu.
    int id = 0;
    std::string label;
    bool enabled = true;
    // A check mark, on or off; none for a plain entry.
    std::optional<bool> toggled;
    bool separator = false;

    bool operator==(const StatusNotifierMenuItem&) const = default;
};

class DBusMenu {
  public:
    explicit DBusMenu(std::shared_ptr<DBusConnection> bus) : bus_(std::move(bus)) {}
    DBusMenu(const DBusMenu&) = delete;
    DBusMenu& operator=(const DBusMenu&) = delete;

    // Serves the menu at kPath until withdraw(); the entries and their revision outlast it.
    Result<void> serve();
    void withdraw() { object_.reset(); }

    // The entries, top to bottom. The host learns of a change: new labels and states as such,
    // a new set of entries as a new layout.
    void setItems(std::vector<StatusNotifierMenuItem> items);
    const std::vector<StatusNotifierMenuItem>& items() const { return items_; }

    // Called inside the bus's processing: an enabled entry was clicked, and the root is about
    // to be shown.
    std::function<void(int id)> onClicked;
    std::function<void()> onOpening;

    static constexpr const char* kPath = "/MenuBar";
    static constexpr const char* kInterface = "com.canonical.dbusmenu";

  private:
    const StatusNotifierMenuItem* item(std::int32_t id) const;
    bool knows(std::int32_t id) const { return id == 0 || item(id) != nullptr; }
    // One event for an entry: false when there is no such entry.
    bool event(std::int32_t id, const std::string& name);
    void opening(std::int32_t id);
    // An entry (none for the root) with its children to `depth` levels (-1: all), as
    // (ia{sv}av), with only the properties named when names are given.
    void writeLayout(DBusWriter& w, std::int32_t id, const StatusNotifierMenuItem* entry,
                     std::int32_t depth, const std::set<std::string>& names) const;

    int getLayout(sd_bus_message* call, sd_bus_message* reply);
    int getGroupProperties(sd_bus_message* call, sd_bus_message* reply);
    int getProperty(sd_bus_message* call, sd_bus_message* reply);
    int eventCall(sd_bus_message* call);
    int eventGroup(sd_bus_message* call, sd_bus_message* reply);
    int aboutToShow(sd_bus_message* call, sd_bus_message* reply);
    int aboutToShowGroup(sd_bus_message* call, sd_bus_message* reply);
    void emit(const char* member, const DBusConnection::Append& append);

    std::shared_ptr<DBusConnection> bus_;
    std::vector<StatusNotifierMenuItem> items_;
    std::uint32_t revision_ = 1;
    DBusSlot object_;
    Logger log_{"tray"};
};

}  // namespace orvel
