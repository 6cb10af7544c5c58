#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/Signal.h"

// The machine's network situation: the path the system routes over, the interfaces and their
// addresses, the router, the DNS domains and the Wi-Fi network. Threading: main thread only;
// the signals are sent on the main thread.

namespace orvel {

enum class NetworkInterfaceType { wifi, wiredEthernet, other };

// The path the system routes over now.
struct NetworkPath {
    // A usable route exists.
    bool satisfied = false;
    // The types of the interfaces the path uses.
    std::vector<NetworkInterfaceType> interfaceTypes;

    bool uses(NetworkInterfaceType type) const {
        for (auto used : interfaceTypes) {
            if (used == type) {
                return true;
            }
        }
        return false;
    }
    bool operator==(const NetworkPath&) const = default;
};

// One address of an interface, as getifaddrs lists it.
struct InterfaceAddress {
    std::string interface;
    bool up = false;
    bool running = false;
    bool loopback = false;
    bool ipv4 = false;
    // Numeric text ("10.0.1.7", "fe80::1").
    std::string address;

    bool operator==(const InterfaceAddress&) const = default;
};

// Whether the program may learn where the machine is, which the Wi-Fi network's name reveals.
// The raw values are those the stored state and the permission audit use.
enum class LocationAuthorization {
    notDetermined = 0,
    restricted = 1,
    denied = 2,
    authorizedAlways = 3,
    authorizedWhenInUse = 4,
};

class Network {
  public:
    virtual ~Network() = default;

    // The current path (also while nobody follows pathChanged).
    virtual NetworkPath currentPath() = 0;
    // Every address of every interface, in the system's order; nothing when the list cannot be
    // read.
    virtual std::optional<std::vector<InterfaceAddress>> interfaceAddresses() = 0;
    // The IPv4 router of the default route.
    virtual std::optional<std::string> routerAddress() = 0;
    // The DNS search domains, followed by the DNS domain name when there is one.
    virtual std::vector<std::string> searchDomains() = 0;
    // The name of the Wi-Fi network the machine is joined to, whatever the Location
    // authorisation says (callers check it).
    virtual std::optional<std::string> currentSSID() = 0;
    // Whether an interface of this name carries a VPN.
    virtual bool isVPNInterface(const std::string& name) = 0;

    virtual LocationAuthorization locationAuthorization() = 0;
    // Asks the user, when the system asks at all; the answer comes through
    // locationAuthorizationChanged.
    virtual void requestLocationAuthorization() = 0;

    // The path may have changed (sent at least once per change; the path is watched only while
    // this has subscribers).
    Signal<> pathChanged;
    Signal<> locationAuthorizationChanged;
};

}  // namespace orvel
