#include "platform/linux/NetFiles.h"

#include <arpa/inet.h>
#include <net/route.h>

#include <cstdint>
#include <optional>

#include "foundation/Numbers.h"

namespace orvel::netfiles {

namespace {

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> found;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        found.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return found;
}

}  // namespace

std::vector<DefaultRoute> parseDefaultRoutes(std::string_view text) {
    std::vector<DefaultRoute> routes;
    const auto all = lines(text);
    for (std::size_t i = 1; i < all.size(); ++i) {  // the first line names the columns
        const auto f = fields(all[i]);
        if (f.size() < 8) {
            continue;
        }
        const auto destination = parseNumber<std::uint32_t>(f[1], 16);
        const auto gateway = parseNumber<std::uint32_t>(f[2], 16);
        const auto flags = parseNumber<unsigned>(f[3], 16);
        const auto metric = parseNumber<long>(f[6], 10);
        const auto mask = parseNumber<std::uint32_t>(f[7], 16);
        if (!destination || !gateway || !flags || !metric || !mask || *destination != 0 ||
            *mask != 0) {
            continue;
        }
        DefaultRoute route;
        route.interface = std::string(f[0]);
        route.metric = *metric;
        route.up = (*flags & RTF_UP) != 0;
        if ((*flags & RTF_GATEWAY) != 0 && *gateway != 0) {
            // The file holds the address in the kernel's (network) byte order, as hex of the
            // host's integer.
            in_addr address{};
            address.s_addr = *gateway;
            char buffer[INET_ADDRSTRLEN] = {};
            if (::inet_ntop(AF_INET, &address, buffer, sizeof buffer) != nullptr) {
                route.gateway = buffer;
            }
        }
        routes.push_back(std::move(route));
    }
    return routes;
}

std::vector<std::string> parseResolvDomains(std::string_view text) {
    std::vector<std::string> search;
    std::optional<std::string> domain;
    for (const auto line : lines(text)) {
        const auto words = fields(line);
        if (words.empty()) {
            continue;
        }
        if (words[0] == "search") {
            search.assign(words.begin() + 1, words.end());  // the last one counts
        } else if (words[0] == "domain" && words.size() > 1) {
            domain = std::string(words[1]);
        }
    }
    if (domain) {
        search.push_back(*domain);
    }
    return search;
}

bool isResolvedStub(std::string_view text) {
    for (const auto line : lines(text)) {
        const auto words = fields(line);
        if (words.size() > 1 && words[0] == "nameserver" &&
            (words[1] == "127.0.0.53" || words[1] == "127.0.0.54")) {
            return true;
        }
    }
    return false;
}

}  // namespace orvel::netfiles
