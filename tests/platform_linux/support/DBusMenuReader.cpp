#include "support/DBusMenuReader.h"

namespace orvel::test {

namespace {

std::string readVariant(sd_bus_message* m) {
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(m, &type, &contents) <= 0 || type != 'v' || contents == nullptr) {
        return "?";
    }
    const std::string signature = contents;
    if (sd_bus_message_enter_container(m, 'v', contents) < 0) {
        return "?";
    }
    std::string text = "unread " + signature;
    if (signature == "s") {
        const char* s = nullptr;
        text = sd_bus_message_read(m, "s", &s) > 0 ? std::string("'") + s + "'" : "?";
    } else if (signature == "b") {
        int b = 0;
        text = sd_bus_message_read(m, "b", &b) > 0 ? (b ? "true" : "false") : "?";
    } else if (signature == "i") {
        std::int32_t i = 0;
        text = sd_bus_message_read(m, "i", &i) > 0 ? std::to_string(i) : "?";
    } else {
        sd_bus_message_skip(m, contents);
    }
    sd_bus_message_exit_container(m);
    return text;
}

// One (ia{sv}av) where the message stands, its children added to `children`.
bool readEntry(sd_bus_message* m, MenuEntry& entry, std::vector<MenuEntry>* children) {
    if (sd_bus_message_enter_container(m, 'r', "ia{sv}av") <= 0 ||
        sd_bus_message_read(m, "i", &entry.id) < 0) {
        return false;
    }
    entry.properties = readMenuProperties(m);
    if (sd_bus_message_enter_container(m, 'a', "v") < 0) {
        return false;
    }
    while (sd_bus_message_enter_container(m, 'v', "(ia{sv}av)") > 0) {
        MenuEntry child;
        if (!readEntry(m, child, nullptr)) {
            return false;
        }
        if (children != nullptr) {
            children->push_back(std::move(child));
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
    sd_bus_message_exit_container(m);
    return true;
}

}  // namespace

MenuProperties readMenuProperties(sd_bus_message* m) {
    MenuProperties properties;
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) {
        return properties;
    }
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* name = nullptr;
        sd_bus_message_read(m, "s", &name);
        properties[name] = readVariant(m);
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
    return properties;
}

std::optional<MenuLayout> readMenuLayout(DBusConnection& bus, const std::string& service,
                                         const std::vector<std::string>& names) {
    Reply reply = callAndWait(bus, {service.c_str(), kMenuPath, kMenuInterface}, "GetLayout",
                              [&names](sd_bus_message* m) {
                                  int r = sd_bus_message_append(m, "ii", 0, -1);
                                  if (r >= 0)
                                      r = sd_bus_message_open_container(m, 'a', "s");
                                  for (const auto& name : names) {
                                      if (r >= 0)
                                          r = sd_bus_message_append(m, "s", name.c_str());
                                  }
                                  if (r >= 0)
                                      r = sd_bus_message_close_container(m);
                                  return r;
                              });
    if (!reply || DBusConnection::errorOf(reply.get())) {
        return std::nullopt;
    }
    MenuLayout layout;
    MenuEntry root;
    if (sd_bus_message_read(reply.get(), "u", &layout.revision) < 0 ||
        !readEntry(reply.get(), root, &layout.entries)) {
        return std::nullopt;
    }
    layout.root = std::move(root.properties);
    return layout;
}

std::string describeMenuEntry(const MenuEntry& entry) {
    auto value = [&entry](const char* name) {
        const auto found = entry.properties.find(name);
        return found == entry.properties.end() ? std::string() : found->second;
    };
    if (value("type") == "'separator'") {
        return "-";
    }
    std::string label = value("label");
    std::string text = label.size() >= 2 ? label.substr(1, label.size() - 2) : label;
    if (value("enabled") == "false") {
        text += " (disabled)";
    }
    if (value("toggle-type") == "'checkmark'") {
        text += value("toggle-state") == "1" ? " [x]" : " [ ]";
    }
    return text;
}

std::vector<std::string> describeMenu(const MenuLayout& layout) {
    std::vector<std::string> lines;
    for (const auto& entry : layout.entries) {
        lines.push_back(describeMenuEntry(entry));
    }
    return lines;
}

Reply sendMenuEvent(DBusConnection& bus, const std::string& service, std::int32_t id,
                    const char* event) {
    return callAndWait(bus, {service.c_str(), kMenuPath, kMenuInterface}, "Event",
                       [id, event](sd_bus_message* m) {
                           return sd_bus_message_append(m, "isvu", id, event, "s", "", 0u);
                       });
}

}  // namespace orvel::test
