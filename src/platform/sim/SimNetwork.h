#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Network.h"

namespace orvel {

// A simulated network. Tests set or withhold each fact and send path updates one at a time or
// in bursts; the facts are read afresh by every query, as on a real machine.
class SimNetwork final : public Network {
  public:
    NetworkPath currentPath() override { return path_; }
    std::optional<std::vector<InterfaceAddress>> interfaceAddresses() override {
        if (interfacesUnreadable_) {
            return std::nullopt;
        }
        return interfaces_;
    }
    std::optional<std::string> routerAddress() override { return router_; }
    std::vector<std::string> searchDomains() override { return domains_; }
    std::optional<std::string> currentSSID() override { return ssid_; }
    // The names VPN clients give their interfaces.
    bool isVPNInterface(const std::string& name) override {
        for (const char* prefix : {"utun", "ppp", "ipsec"}) {
            if (name.rfind(prefix, 0) == 0) {
                return true;
            }
        }
        return false;
    }
    LocationAuthorization locationAuthorization() override { return location_; }
    void requestLocationAuthorization() override { ++locationRequests_; }

    // Control surface for tests. Setting a fact sends no update.
    void setPath(NetworkPath path) { path_ = std::move(path); }
    void setInterfaces(std::vector<InterfaceAddress> interfaces) {
        interfaces_ = std::move(interfaces);
    }
    void setInterfacesUnreadable(bool unreadable) { interfacesUnreadable_ = unreadable; }
    void setRouter(std::optional<std::string> router) { router_ = std::move(router); }
    void setSearchDomains(std::vector<std::string> domains) { domains_ = std::move(domains); }
    void setSSID(std::optional<std::string> ssid) { ssid_ = std::move(ssid); }
    // Sends `count` path updates at once.
    void sendPathUpdates(int count = 1) {
        for (int i = 0; i < count; ++i) {
            pathChanged.send();
        }
    }
    // The user answers (or the status changes in the system's settings).
    void setLocationAuthorization(LocationAuthorization status) {
        location_ = status;
        locationAuthorizationChanged.send();
    }
    int locationRequests() const { return locationRequests_; }

    // An up and running interface with one IPv4 address.
    static InterfaceAddress ipv4(std::string interface, std::string address) {
        return InterfaceAddress{std::move(interface), true, true, false, true, std::move(address)};
    }

  private:
    NetworkPath path_;
    std::vector<InterfaceAddress> interfaces_;
    bool interfacesUnreadable_ = false;
    std::optional<std::string> router_;
    std::vector<std::string> domains_;
    std::optional<std::string> ssid_;
    LocationAuthorization location_ = LocationAuthorization::notDetermined;
    int locationRequests_ = 0;
};

}  // namespace orvel
