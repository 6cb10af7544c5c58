#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/PrivateBus.h"

// What a tray host reads of an item's com.canonical.dbusmenu menu, in words.

namespace orvel::test {

// An entry's properties, each value in words: a text quoted ('Quit'), a flag as true or
// false, a number as digits.
using MenuProperties = std::map<std::string, std::string>;

struct MenuEntry {
    std::int32_t id = 0;
    MenuProperties properties;
};

struct MenuLayout {
    std::uint32_t revision = 0;
    MenuProperties root;
    std::vector<MenuEntry> entries;
};

// Reads a{sv} where the message stands.
MenuProperties readMenuProperties(sd_bus_message* m);

// The whole menu, as GetLayout of the root gives it (only the named properties, if any);
// nothing when the call fails.
std::optional<MenuLayout> readMenuLayout(DBusConnection& bus, const std::string& service,
                                         const std::vector<std::string>& names = {});

// An entry in one line, as a user sees it: "-" for a separator, else the label, "(disabled)"
// and the check mark ("[x]" or "[ ]") where they apply.
std::string describeMenuEntry(const MenuEntry& entry);
std::vector<std::string> describeMenu(const MenuLayout& layout);

// Sends the host's Event for an entry; the reply (an error for an unknown entry).
Reply sendMenuEvent(DBusConnection& bus, const std::string& service, std::int32_t id,
                    const char* event = "clicked");

inline constexpr const char* kMenuPath = "/MenuBar";
inline constexpr const char* kMenuInterface = "com.canonical.dbusmenu";

}  // namespace orvel::test
