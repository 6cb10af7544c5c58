#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/WeakRef.h"
#include "platform/Network.h"
#include "platform/linux/DBusConnection.h"
#include "platform/linux/UniqueFd.h"

namespace orvel {

struct LinuxNetworkOptions {
    std::string procRoot = "/proc";  // net/route
    std::string sysRoot = "/sys";    // class/net
    std::string root = "/";          // etc/resolv.conf, run/systemd/resolve/resolv.conf
    // Follow link, address and route changes through rtnetlink while someone listens.
    bool netlink = true;
};

// The network on Linux.
//
// Path updates come from an rtnetlink socket (links, IPv4 addresses, routes) watched on the main
// loop while pathChanged has subscribers, and from NetworkManager's PropertiesChanged signals
// (its State, PrimaryConnection, ActiveConnections, a device's ActiveAccessPoint), which are
// mirrored whenever NetworkManager runs. Whatever arrives in one turn of the loop is drained
// together and sends at most one update, and only when something the path is made of changed.
//
// The path is satisfied when NetworkManager says connected (State ≥ 60), or, without it, when a
// default route leaves through an up interface; that interface's type is read from
// /sys/class/net. The router is the default route with the lowest metric in /proc/net/route; the
// search domains come from resolv.conf (systemd-resolved's own when the first is its stub). The
// Wi-Fi name is the Ssid of the primary connection's access point.
class LinuxNetwork final : public Network, public WeakReferenceable {
  public:
    LinuxNetwork(std::shared_ptr<DBusConnection> systemBus, LinuxNetworkOptions options = {});
    ~LinuxNetwork() override;

    NetworkPath currentPath() override;
    std::optional<std::vector<InterfaceAddress>> interfaceAddresses() override;
    std::optional<std::string> routerAddress() override;
    std::vector<std::string> searchDomains() override;
    std::optional<std::string> currentSSID() override;
    // Names VPN clients give their interfaces (utun, ppp, ipsec, tun, tap, wg, vpn), and the
    // devices of NetworkManager's active VPN and WireGuard connections.
    bool isVPNInterface(const std::string& name) override;
    // Linux has no Location permission: the Wi-Fi name is readable by every user.
    LocationAuthorization locationAuthorization() override {
        return LocationAuthorization::authorizedAlways;
    }
    void requestLocationAuthorization() override {}

    // Whether NetworkManager's state has been read (tests wait for it).
    bool networkManagerKnown() const { return nm_.has_value(); }

  private:
    struct NetworkManagerState {
        std::uint32_t state = 0;
        std::optional<std::string> ssid;
        std::set<std::string> vpnInterfaces;
        bool operator==(const NetworkManagerState&) const = default;
    };
    struct Refresh;

    void listenersChanged();
    void openNetlink();
    void drainNetlink();
    void followNetworkManager();
    void scheduleRefresh();
    void refreshNetworkManager();
    void checkPath();
    void schedulePathCheck();
    std::string pathFingerprint();

    std::shared_ptr<DBusConnection> bus_;
    LinuxNetworkOptions options_;
    UniqueFd netlink_;
    FdWatch netlinkWatch_;
    bool netlinkFailureLogged_ = false;

    std::shared_ptr<BusName> nmName_;
    Subscription nmWatch_;
    DBusSlot nmSignals_;
    std::optional<NetworkManagerState> nm_;
    std::shared_ptr<Refresh> refresh_;
    bool refreshQueued_ = false;

    bool checkQueued_ = false;
    std::string lastFingerprint_;
    Logger log_{"network"};
};

}  // namespace orvel
