#pragma once

#include <array>
#include <string>
#include <string_view>

#include "foundation/Localization.h"
#include "triggers/TriggerRule.h"

// The match kinds of the network rule editor. A kind is named by a plain English string, which
// is also the tag of the editor's kind picker, so it stays English under every string table.
namespace orvel::network_kinds {

// Every kind name, in the picker's order.
inline constexpr std::array<std::string_view, 6> kNames{
    textKey("WiFi SSID"),     textKey("IPv4 range"),     textKey("Gateway IP"),
    textKey("Search domain"), textKey("Interface type"), textKey("VPN connected")};

// The kind name of a matcher: the picker's selection for a rule.
std::string_view kindName(NetworkMatcher::Kind kind);
// The text the picker shows for a kind name; any name it does not know reads "VPN connected".
std::string kindTitle(std::string_view name);
// The matcher for a kind name (exact, case-sensitive) and the typed value, never trimmed; an
// empty interface type means ethernet, and any other name is a VPN matcher.
NetworkMatcher makeMatcher(std::string_view name, std::string value);
// The rule's name after its value changes: the kind name, then a space and the value if any.
std::string ruleName(std::string_view name, std::string_view value);

}  // namespace orvel::network_kinds
