#pragma once

#include <string>
#include <string_view>
#include <vector>

// The network files Orvel reads (/proc/net/route, resolv.conf), decoded from their text alone:
// resolv.conf is written by whatever manages the network, so these readers take any bytes.

namespace orvel::netfiles {

struct DefaultRoute {
    std::string interface;
    std::string gateway;  // dotted IPv4, empty without one
    long metric = 0;
    bool up = false;
};

// The default routes of /proc/net/route, in file order.
std::vector<DefaultRoute> parseDefaultRoutes(std::string_view text);
// The last "search" line's names, then the last "domain" name, of a resolv.conf.
std::vector<std::string> parseResolvDomains(std::string_view text);
// Whether a resolv.conf points at systemd-resolved's local stub.
bool isResolvedStub(std::string_view text);

}  // namespace orvel::netfiles
