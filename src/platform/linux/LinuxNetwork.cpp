#include "platform/linux/LinuxNetwork.h"

#include "foundation/Numbers.h"
#include "platform/linux/LinuxFiles.h"
#include "platform/linux/NetFiles.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/route.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvel {

namespace {

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kManagerPath = "/org/freedesktop/NetworkManager";
constexpr const char* kManager = "org.freedesktop.NetworkManager";
constexpr const char* kActiveConnection = "org.freedesktop.NetworkManager.Connection.Active";
constexpr const char* kDevice = "org.freedesktop.NetworkManager.Device";
constexpr const char* kWireless = "org.freedesktop.NetworkManager.Device.Wireless";
constexpr const char* kAccessPoint = "org.freedesktop.NetworkManager.AccessPoint";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kPropertiesChanged = "PropertiesChanged";
// NM_STATE_CONNECTED_SITE: from here on a route leaves the machine.
constexpr std::uint32_t kConnectedSite = 60;

std::string readText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return {};
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool isUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        if (c >= 0xc2 && c <= 0xdf) {
            extra = 1;
        } else if (c >= 0xe0 && c <= 0xef) {
            extra = 2;
        } else if (c >= 0xf0 && c <= 0xf4) {
            extra = 3;
        } else if (c >= 0x80) {
            return false;
        }
        if (extra != 0 && i + extra >= text.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) {
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}

}  // namespace

// One reading of NetworkManager's objects; its calls end with it.
struct LinuxNetwork::Refresh {
    std::vector<DBusSlot> calls;
    int pending = 0;
    NetworkManagerState next;
};

LinuxNetwork::LinuxNetwork(std::shared_ptr<DBusConnection> systemBus, LinuxNetworkOptions options)
    : bus_(std::move(systemBus)), options_(std::move(options)) {
    pathChanged.setSubscribersChanged([this] { listenersChanged(); });
    if (bus_) {
        nmName_ = bus_->watchName(kService);
        nmWatch_ = nmName_->changed.subscribe([this](BusNameState) { followNetworkManager(); });
        followNetworkManager();
    }
}

LinuxNetwork::~LinuxNetwork() {
    pathChanged.setSubscribersChanged(nullptr);
}

// Readers ------------------------------------------------------------------------------------

// Facts --------------------------------------------------------------------------------------

NetworkPath LinuxNetwork::currentPath() {
    NetworkPath path;
    const netfiles::DefaultRoute* best = nullptr;
    const auto routes = netfiles::parseDefaultRoutes(readText(options_.procRoot + "/net/route"));
    const std::string net = options_.sysRoot + "/class/net/";
    for (const auto& route : routes) {
        std::string flagText = readSysfsAttribute(net + route.interface + "/flags").value_or("");
        if (flagText.rfind("0x", 0) == 0) {
            flagText.erase(0, 2);
        }
        const auto interfaceFlags = parseNumber<unsigned>(flagText, 16);
        if (!route.up || !interfaceFlags || (*interfaceFlags & IFF_UP) == 0) {
            continue;
        }
        if (best == nullptr || route.metric < best->metric) {
            best = &route;
        }
    }
    path.satisfied = nm_ ? nm_->state >= kConnectedSite : best != nullptr;
    if (best != nullptr) {
        std::error_code error;
        const std::string folder = net + best->interface;
        if (std::filesystem::exists(folder + "/wireless", error) ||
            std::filesystem::exists(folder + "/phy80211", error) ||
            readText(folder + "/uevent").find("DEVTYPE=wlan") != std::string::npos) {
            path.interfaceTypes.push_back(NetworkInterfaceType::wifi);
        } else if (readSysfsAttribute(folder + "/type") == "1") {
            path.interfaceTypes.push_back(NetworkInterfaceType::wiredEthernet);
        } else {
            path.interfaceTypes.push_back(NetworkInterfaceType::other);
        }
    }
    return path;
}

std::optional<std::vector<InterfaceAddress>> LinuxNetwork::interfaceAddresses() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        log_.error(std::string("The interface addresses cannot be read: ") + std::strerror(errno));
        return std::nullopt;
    }
    std::vector<InterfaceAddress> addresses;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr ||
            (entry->ifa_addr->sa_family != AF_INET && entry->ifa_addr->sa_family != AF_INET6)) {
            continue;
        }
        const bool ipv4 = entry->ifa_addr->sa_family == AF_INET;
        char host[NI_MAXHOST] = {};
        const socklen_t length = ipv4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        if (::getnameinfo(entry->ifa_addr, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) !=
            0) {
            continue;
        }
        InterfaceAddress address;
        address.interface = entry->ifa_name != nullptr ? entry->ifa_name : "";
        address.up = (entry->ifa_flags & IFF_UP) != 0;
        address.running = (entry->ifa_flags & IFF_RUNNING) != 0;
        address.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        address.ipv4 = ipv4;
        address.address = host;
        addresses.push_back(std::move(address));
    }
    ::freeifaddrs(list);
    return addresses;
}

std::optional<std::string> LinuxNetwork::routerAddress() {
    const netfiles::DefaultRoute* best = nullptr;
    const auto routes = netfiles::parseDefaultRoutes(readText(options_.procRoot + "/net/route"));
    for (const auto& route : routes) {
        if (route.up && !route.gateway.empty() &&
            (best == nullptr || route.metric < best->metric)) {
            best = &route;
        }
    }
    if (best == nullptr) {
        return std::nullopt;
    }
    return best->gateway;
}

std::vector<std::string> LinuxNetwork::searchDomains() {
    const std::string text = readText(options_.root + "/etc/resolv.conf");
    if (netfiles::isResolvedStub(text)) {
        // The stub's file names only the stub; resolved keeps the real domains in its own.
        return netfiles::parseResolvDomains(
            readText(options_.root + "/run/systemd/resolve/resolv.conf"));
    }
    return netfiles::parseResolvDomains(text);
}

std::optional<std::string> LinuxNetwork::currentSSID() {
    return nm_ ? nm_->ssid : std::nullopt;
}

bool LinuxNetwork::isVPNInterface(const std::string& name) {
    for (const char* prefix : {"utun", "ppp", "ipsec", "tun", "tap", "wg", "vpn"}) {
        if (name.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return nm_ && nm_->vpnInterfaces.count(name) != 0;
}

// Path updates -------------------------------------------------------------------------------

void LinuxNetwork::listenersChanged() {
    if (pathChanged.subscriberCount() == 0) {
        netlinkWatch_.cancel();
        netlink_.reset();
        return;
    }
    if (!netlink_ && options_.netlink) {
        openNetlink();
    }
    lastFingerprint_ = pathFingerprint();
}

void LinuxNetwork::openNetlink() {
    UniqueFd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE));
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE;
    if (!socket ||
        ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (!netlinkFailureLogged_) {
            log_.error(std::string("Link and address changes cannot be followed (rtnetlink: ") +
                       std::strerror(errno) + ").");
            netlinkFailureLogged_ = true;
        }
        return;
    }
    netlink_ = std::move(socket);
    netlinkWatch_ =
        RunLoop::main().watchFd(netlink_.get(), kFdReadable, [this](unsigned) { drainNetlink(); });
}

void LinuxNetwork::drainNetlink() {
    // What the messages say is read afresh from the system; they only say when to look.
    alignas(nlmsghdr) char buffer[8192];
    for (;;) {
        const ssize_t n = ::recv(netlink_.get(), buffer, sizeof buffer, 0);
        if (n > 0 || (n < 0 && (errno == EINTR || errno == ENOBUFS))) {
            continue;  // ENOBUFS: messages were lost, which a fresh look covers
        }
        break;
    }
    schedulePathCheck();
}

void LinuxNetwork::schedulePathCheck() {
    if (checkQueued_) {
        return;
    }
    checkQueued_ = true;
    const auto alive = weakRef(*this);
    RunLoop::main().async([this, alive] {
        if (alive) {
            checkQueued_ = false;
            checkPath();
        }
    });
}

void LinuxNetwork::checkPath() {
    if (pathChanged.subscriberCount() == 0) {
        return;
    }
    std::string fingerprint = pathFingerprint();
    if (fingerprint == lastFingerprint_) {
        return;
    }
    lastFingerprint_ = std::move(fingerprint);
    pathChanged.send();
}

std::string LinuxNetwork::pathFingerprint() {
    std::ostringstream out;
    const NetworkPath path = currentPath();
    out << path.satisfied;
    for (auto type : path.interfaceTypes) {
        out << ' ' << static_cast<int>(type);
    }
    out << '\n';
    for (const auto& a : interfaceAddresses().value_or(std::vector<InterfaceAddress>{})) {
        out << a.interface << ' ' << a.address << ' ' << a.up << a.running << '\n';
    }
    out << routerAddress().value_or("-") << '\n';
    if (nm_) {
        out << nm_->state << ' ' << nm_->ssid.value_or("-") << '\n';
        for (const auto& name : nm_->vpnInterfaces) {
            out << name << ' ';
        }
    }
    return out.str();
}

// NetworkManager -----------------------------------------------------------------------------

void LinuxNetwork::followNetworkManager() {
    switch (nmName_->state()) {
        case BusNameState::unknown:
            return;
        case BusNameState::absent:
            nmSignals_.reset();
            refresh_.reset();
            if (nm_) {
                nm_.reset();
                schedulePathCheck();
            }
            return;
        case BusNameState::present:
            break;
    }
    if (!nmSignals_.isActive()) {
        // Any interface: the manager and devices also send PropertiesChanged on their own.
        auto match = bus_->matchSignal(kService, nullptr, nullptr, kPropertiesChanged,
                                       [this](sd_bus_message*) { scheduleRefresh(); });
        if (!match) {
            log_.error(match.error().message);
            return;
        }
        nmSignals_ = std::move(match.value());
    }
    refreshNetworkManager();
}

// A burst of signals makes one reading.
void LinuxNetwork::scheduleRefresh() {
    if (refreshQueued_) {
        return;
    }
    refreshQueued_ = true;
    const auto alive = weakRef(*this);
    RunLoop::main().async([this, alive] {
        if (alive) {
            refreshQueued_ = false;
            refreshNetworkManager();
        }
    });
}

// Reads the manager's state, the primary connection's access point and the active VPN devices,
// then keeps the whole reading at once. A newer reading drops the one under way.
void LinuxNetwork::refreshNetworkManager() {
    auto refresh = std::make_shared<Refresh>();
    refresh_ = refresh;
    Refresh* r = refresh.get();
    // Each Get reply runs `read` with the message inside the variant (or null on an error).
    std::function<void(const std::string&, const char*, const char*, const char*,
                       std::function<void(sd_bus_message*)>)>
        get = [this, r](const std::string& path, const char* interface, const char* name,
                        const char* signature, std::function<void(sd_bus_message*)> read) {
            auto call = bus_->call(
                DBusObject{kService, path.c_str(), kProperties}, "Get",
                [interface, name](sd_bus_message* m) {
                    return sd_bus_message_append(m, "ss", interface, name);
                },
                [this, r, signature, read = std::move(read)](sd_bus_message* reply) {
                    const bool ok = !DBusConnection::errorOf(reply) &&
                                    sd_bus_message_enter_container(reply, 'v', signature) >= 0;
                    read(ok ? reply : nullptr);
                    if (--r->pending == 0) {
                        nm_ = r->next;
                        schedulePathCheck();
                    }
                });
            if (call) {
                ++r->pending;
                r->calls.push_back(std::move(call.value()));
            }
        };
    const auto readPaths = [](sd_bus_message* m) {
        std::vector<std::string> paths;
        if (m == nullptr || sd_bus_message_enter_container(m, 'a', "o") < 0) {
            return paths;
        }
        const char* path = nullptr;
        while (sd_bus_message_read(m, "o", &path) > 0) {
            paths.emplace_back(path);
        }
        return paths;
    };
    get(kManagerPath, kManager, "State", "u", [r](sd_bus_message* m) {
        std::uint32_t state = 0;
        if (m != nullptr && sd_bus_message_read(m, "u", &state) > 0) {
            r->next.state = state;
        }
    });
    get(kManagerPath, kManager, "PrimaryConnection", "o", [get, readPaths, r](sd_bus_message* m) {
        const char* primary = nullptr;
        if (m == nullptr || sd_bus_message_read(m, "o", &primary) <= 0 ||
            std::string(primary) == "/") {
            return;
        }
        get(primary, kActiveConnection, "Devices", "ao", [get, readPaths, r](sd_bus_message* d) {
            for (const auto& device : readPaths(d)) {
                get(device, kWireless, "ActiveAccessPoint", "o", [get, r](sd_bus_message* a) {
                    const char* ap = nullptr;
                    if (a == nullptr || sd_bus_message_read(a, "o", &ap) <= 0 ||
                        std::string(ap) == "/") {
                        return;
                    }
                    get(ap, kAccessPoint, "Ssid", "ay", [r](sd_bus_message* s) {
                        const void* bytes = nullptr;
                        size_t size = 0;
                        if (s == nullptr || sd_bus_message_read_array(s, 'y', &bytes, &size) < 0) {
                            return;
                        }
                        std::string ssid(static_cast<const char*>(bytes), size);
                        if (!ssid.empty() && isUtf8(ssid) && !r->next.ssid) {
                            r->next.ssid = std::move(ssid);
                        }
                    });
                });
            }
        });
    });
    get(kManagerPath, kManager, "ActiveConnections", "ao", [get, readPaths, r](sd_bus_message* m) {
        for (const auto& connection : readPaths(m)) {
            const auto devicesIfVpn = [get, readPaths, r, connection] {
                get(connection, kActiveConnection, "Devices", "ao",
                    [get, readPaths, r](sd_bus_message* d) {
                        // The IP interface (a VPN's tunnel), and the device's own name,
                        // which is all a device that has no IP configuration of its own shows.
                        for (const auto& device : readPaths(d)) {
                            for (const char* property : {"IpInterface", "Interface"}) {
                                get(device, kDevice, property, "s", [r](sd_bus_message* i) {
                                    const char* name = nullptr;
                                    if (i != nullptr && sd_bus_message_read(i, "s", &name) > 0 &&
                                        *name != '\0') {
                                        r->next.vpnInterfaces.insert(name);
                                    }
                                });
                            }
                        }
                    });
            };
            get(connection, kActiveConnection, "Vpn", "b", [devicesIfVpn](sd_bus_message* v) {
                int isVpn = 0;
                if (v != nullptr && sd_bus_message_read(v, "b", &isVpn) > 0 && isVpn != 0) {
                    devicesIfVpn();
                }
            });
            get(connection, kActiveConnection, "Type", "s", [devicesIfVpn](sd_bus_message* t) {
                const char* type = nullptr;
                if (t != nullptr && sd_bus_message_read(t, "s", &type) > 0 &&
                    std::string(type) == "wireguard") {
                    devicesIfVpn();
                }
            });
        }
    });
}

}  // namespace orvel
