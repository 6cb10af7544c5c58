#include "automations/NetworkMatchKinds.h"

#include "foundation/Localization.h"

namespace orvel::network_kinds {

namespace {
using Kind = NetworkMatcher::Kind;
constexpr std::array<Kind, 6> kKinds{Kind::ssid,         Kind::ipv4Range,     Kind::gateway,
                                     Kind::searchDomain, Kind::interfaceType, Kind::vpnConnected};
}  // namespace

std::string_view kindName(NetworkMatcher::Kind kind) {
    for (std::size_t i = 0; i < kKinds.size(); ++i) {
        if (kKinds[i] == kind) {
            return kNames[i];
        }
    }
    return kNames.back();
}

std::string kindTitle(std::string_view name) {
    for (std::size_t i = 0; i + 1 < kNames.size(); ++i) {
        if (kNames[i] == name) {
            return localized(kNames[i]);
        }
    }
    return localized(kNames.back());
}

NetworkMatcher makeMatcher(std::string_view name, std::string value) {
    for (std::size_t i = 0; i + 1 < kNames.size(); ++i) {
        if (kNames[i] != name) {
            continue;
        }
        if (kKinds[i] == Kind::interfaceType && value.empty()) {
            value = "ethernet";
        }
        return NetworkMatcher{kKinds[i], std::move(value)};
    }
    return NetworkMatcher::vpnConnected();
}

std::string ruleName(std::string_view name, std::string_view value) {
    std::string text(name);
    if (!value.empty()) {
        text += ' ';
        text += value;
    }
    return text;
}

}  // namespace orvel::network_kinds
