#include "platform/linux/DBusMenu.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/linux/DBusWriter.h"

namespace orvel {

namespace {

// Hosts read an underscore as the mark of an access key: a plain one is written twice.
std::string menuLabel(const std::string& label) {
    std::string out;
    for (const char c : label) {
        out += c;
        if (c == '_') {
            out += '_';
        }
    }
    return out;
}

// Every property an entry has, defaults included, so an update never has to remove one; the
// root (no entry) holds the others.
DBusWriter::Dict menuProperties(const StatusNotifierMenuItem* item) {
    if (item == nullptr) {
        return {{"children-display", std::string("submenu")}};
    }
    if (item->separator) {
        return {{"type", std::string("separator")}, {"visible", true}, {"enabled", true}};
    }
    return {
        {"type", std::string("standard")},
        {"label", menuLabel(item->label)},
        {"enabled", item->enabled},
        {"visible", true},
        {"toggle-type", std::string(item->toggled ? "checkmark" : "")},
        {"toggle-state", std::int32_t(item->toggled ? (*item->toggled ? 1 : 0) : -1)},
    };
}

// Only the properties named, when names are given.
DBusWriter::Dict namedProperties(const StatusNotifierMenuItem* item,
                                 const std::set<std::string>& names) {
    DBusWriter::Dict properties = menuProperties(item);
    if (!names.empty()) {
        std::erase_if(properties, [&names](const auto& p) { return names.count(p.first) == 0; });
    }
    return properties;
}

// An entry's id with its properties, as (ia{sv}).
void writeEntry(DBusWriter& w, std::int32_t id, const StatusNotifierMenuItem* entry,
                const std::set<std::string>& names) {
    w.container('r', "ia{sv}",
                [&](DBusWriter& e) { e.append("i", id).dict(namedProperties(entry, names)); });
}

std::set<std::string> readNames(sd_bus_message* call) {
    std::set<std::string> names;
    char** list = nullptr;
    if (sd_bus_message_read_strv(call, &list) >= 0 && list != nullptr) {
        for (char** n = list; *n != nullptr; ++n) {
            names.insert(*n);
            std::free(*n);
        }
        std::free(list);
    }
    return names;
}

std::vector<std::int32_t> readIds(sd_bus_message* call, int& r) {
    const void* data = nullptr;
    size_t size = 0;
    r = sd_bus_message_read_array(call, 'i', &data, &size);
    std::vector<std::int32_t> ids;
    if (r >= 0 && size > 0) {
        const auto* first = static_cast<const std::int32_t*>(data);
        ids.assign(first, first + size / sizeof(std::int32_t));
    }
    return ids;
}

int appendIds(sd_bus_message* m, const std::vector<std::int32_t>& ids) {
    return sd_bus_message_append_array(m, 'i', ids.data(), ids.size() * sizeof(std::int32_t));
}

bool sameEntries(const std::vector<StatusNotifierMenuItem>& a,
                 const std::vector<StatusNotifierMenuItem>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].id != b[i].id || a[i].separator != b[i].separator) {
            return false;
        }
    }
    return true;
}

}  // namespace

Result<void> DBusMenu::serve() {
    auto method = [this](int (DBusMenu::*handler)(sd_bus_message*, sd_bus_message*)) {
        return [this, handler](sd_bus_message* call, sd_bus_message* reply) {
            return (this->*handler)(call, reply);
        };
    };
    DBusInterface menu;
    menu.name = kInterface;
    menu.methods = {
        {"GetLayout", "iias", "u(ia{sv}av)", method(&DBusMenu::getLayout)},
        {"GetGroupProperties", "aias", "a(ia{sv})", method(&DBusMenu::getGroupProperties)},
        {"GetProperty", "is", "v", method(&DBusMenu::getProperty)},
        {"Event", "isvu", "",
         [this](sd_bus_message* call, sd_bus_message*) { return eventCall(call); }},
        {"EventGroup", "a(isvu)", "ai", method(&DBusMenu::eventGroup)},
        {"AboutToShow", "i", "b", method(&DBusMenu::aboutToShow)},
        {"AboutToShowGroup", "ai", "aiai", method(&DBusMenu::aboutToShowGroup)},
    };
    menu.properties = {
        {"Version", "u", [](sd_bus_message* m) { return sd_bus_message_append(m, "u", 3u); }},
        {"TextDirection", "s",
         [](sd_bus_message* m) { return sd_bus_message_append(m, "s", "ltr"); }},
        {"Status", "s", [](sd_bus_message* m) { return sd_bus_message_append(m, "s", "normal"); }},
        {"IconThemePath", "as",
         [](sd_bus_message* m) { return sd_bus_message_append(m, "as", 0); }},
    };
    menu.emits = {
        {"ItemsPropertiesUpdated", "a(ia{sv})a(ias)"},
        {"LayoutUpdated", "ui"},
        {"ItemActivationRequested", "iu"},
    };
    auto exported = bus_->exportObject(kPath, std::move(menu));
    if (!exported) {
        return exported.error();
    }
    object_ = std::move(exported.value());
    return {};
}

const StatusNotifierMenuItem* DBusMenu::item(std::int32_t id) const {
    for (const auto& entry : items_) {
        if (entry.id == id) {
            return &entry;
        }
    }
    return nullptr;
}

bool DBusMenu::event(std::int32_t id, const std::string& name) {
    if (!knows(id)) {
        return false;
    }
    const StatusNotifierMenuItem* entry = item(id);
    if (name == "clicked" && entry != nullptr && entry->enabled && !entry->separator && onClicked) {
        onClicked(id);
    }
    return true;
}

void DBusMenu::opening(std::int32_t id) {
    // Only the root opens: the menu has no submenus.
    if (id == 0 && onOpening) {
        onOpening();
    }
}

void DBusMenu::writeLayout(DBusWriter& w, std::int32_t id, const StatusNotifierMenuItem* entry,
                           std::int32_t depth, const std::set<std::string>& names) const {
    w.container('r', "ia{sv}av", [&](DBusWriter& layout) {
        layout.append("i", id).dict(namedProperties(entry, names));
        layout.container('a', "v", [&](DBusWriter& children) {
            if (id != 0 || depth == 0) {
                return;
            }
            for (const auto& child : items_) {
                children.container('v', "(ia{sv}av)", [&](DBusWriter& v) {
                    writeLayout(v, child.id, &child, depth - 1, names);
                });
            }
        });
    });
}

int DBusMenu::getLayout(sd_bus_message* call, sd_bus_message* reply) {
    std::int32_t parent = 0;
    std::int32_t depth = -1;
    const int r = sd_bus_message_read(call, "ii", &parent, &depth);
    const std::set<std::string> names = readNames(call);
    if (r < 0 || !knows(parent)) {
        return r < 0 ? r : -EINVAL;
    }
    DBusWriter w(reply);
    w.append("u", revision_);
    writeLayout(w, parent, parent == 0 ? nullptr : item(parent), depth, names);
    return w.result();
}

int DBusMenu::getGroupProperties(sd_bus_message* call, sd_bus_message* reply) {
    int r = 0;
    std::vector<std::int32_t> ids = readIds(call, r);
    const std::set<std::string> names = readNames(call);
    if (r < 0) {
        return r;
    }
    // No ids: every entry.
    if (ids.empty()) {
        ids.push_back(0);
        for (const auto& entry : items_) {
            ids.push_back(entry.id);
        }
    }
    DBusWriter w(reply);
    w.container('a', "(ia{sv})", [&](DBusWriter& entries) {
        for (const std::int32_t id : ids) {
            if (knows(id)) {
                writeEntry(entries, id, id == 0 ? nullptr : item(id), names);
            }
        }
    });
    return w.result();
}

int DBusMenu::getProperty(sd_bus_message* call, sd_bus_message* reply) {
    std::int32_t id = 0;
    const char* name = nullptr;
    if (const int r = sd_bus_message_read(call, "is", &id, &name); r < 0) {
        return r;
    }
    if (!knows(id)) {
        return -EINVAL;
    }
    for (const auto& [property, value] : menuProperties(id == 0 ? nullptr : item(id))) {
        if (property == std::string(name)) {
            return DBusWriter(reply).variant(value).result();
        }
    }
    return -EINVAL;
}

int DBusMenu::eventCall(sd_bus_message* call) {
    std::int32_t id = 0;
    const char* name = nullptr;
    int r = sd_bus_message_read(call, "is", &id, &name);
    if (r >= 0)
        r = sd_bus_message_skip(call, "vu");
    if (r < 0) {
        return r;
    }
    if (std::string(name) == "opened") {
        opening(id);
    }
    return event(id, name) ? 0 : -EINVAL;
}

int DBusMenu::eventGroup(sd_bus_message* call, sd_bus_message* reply) {
    std::vector<std::int32_t> unknown;
    int r = sd_bus_message_enter_container(call, 'a', "(isvu)");
    while (r >= 0 && (r = sd_bus_message_enter_container(call, 'r', "isvu")) > 0) {
        std::int32_t id = 0;
        const char* name = nullptr;
        r = sd_bus_message_read(call, "is", &id, &name);
        if (r >= 0)
            r = sd_bus_message_skip(call, "vu");
        if (r >= 0)
            r = sd_bus_message_exit_container(call);
        if (r >= 0) {
            if (std::string(name) == "opened") {
                opening(id);
            }
            if (!event(id, name)) {
                unknown.push_back(id);
            }
        }
    }
    if (r < 0) {
        return r;
    }
    return appendIds(reply, unknown);
}

int DBusMenu::aboutToShow(sd_bus_message* call, sd_bus_message* reply) {
    std::int32_t id = 0;
    if (const int r = sd_bus_message_read(call, "i", &id); r < 0) {
        return r;
    }
    if (!knows(id)) {
        return -EINVAL;
    }
    opening(id);
    // The layout is always up to date: the host is told of each change.
    return sd_bus_message_append(reply, "b", 0);
}

int DBusMenu::aboutToShowGroup(sd_bus_message* call, sd_bus_message* reply) {
    int r = 0;
    const std::vector<std::int32_t> ids = readIds(call, r);
    if (r < 0) {
        return r;
    }
    std::vector<std::int32_t> unknown;
    for (const std::int32_t id : ids) {
        if (knows(id)) {
            opening(id);
        } else {
            unknown.push_back(id);
        }
    }
    r = appendIds(reply, {});
    return r < 0 ? r : appendIds(reply, unknown);
}

void DBusMenu::setItems(std::vector<StatusNotifierMenuItem> items) {
    if (items == items_) {
        return;
    }
    const std::vector<StatusNotifierMenuItem> before = std::exchange(items_, std::move(items));
    ++revision_;
    if (!sameEntries(before, items_)) {
        emit("LayoutUpdated", [this](sd_bus_message* m) {
            return sd_bus_message_append(m, "ui", revision_, std::int32_t(0));
        });
        return;
    }
    // The same entries: only those that changed are sent, whole.
    emit("ItemsPropertiesUpdated", [this, &before](sd_bus_message* m) {
        DBusWriter w(m);
        w.container('a', "(ia{sv})", [&](DBusWriter& entries) {
            for (size_t i = 0; i < items_.size(); ++i) {
                if (items_[i] != before[i]) {
                    writeEntry(entries, items_[i].id, &items_[i], {});
                }
            }
        });
        return w.append("a(ias)", 0).result();
    });
}

void DBusMenu::emit(const char* member, const DBusConnection::Append& append) {
    if (auto sent = bus_->emitSignal(kPath, kInterface, member, append); !sent) {
        log_.error(sent.error().message);
    }
}

}  // namespace orvel
