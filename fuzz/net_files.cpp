// The network's files: resolv.conf is written by whatever manages the network (and read as it
// is), /proc/net/route by the kernel; each reader takes the whole input.
#include "platform/linux/NetFiles.h"

#include "FuzzSupport.h"

using namespace orvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::text(data, size);
    for (const auto& route : netfiles::parseDefaultRoutes(input)) {
        fuzz::require(route.gateway.size() <= 15, "a gateway is dotted IPv4 or nothing");
    }
    for (const auto& domain : netfiles::parseResolvDomains(input)) {
        fuzz::require(!domain.empty(), "a domain is a word");
        fuzz::require(domain.find_first_of(" \t\n") == std::string::npos, "a domain is one word");
    }
    (void)netfiles::isResolvedStub(input);
    return 0;
}
