#include "platform/linux/LinuxNetwork.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "foundation/PollRunLoop.h"
#include "platform/linux/NetFiles.h"
#include "support/BusTest.h"

namespace orvel {
namespace {

using test::BusTest;
using test::callAndWait;
using test::waitFor;
using Type = NetworkInterfaceType;

const std::string kNet = std::string(ORVEL_TEST_DATA) + "/net/";

LinuxNetworkOptions fixture(const std::string& name) {
    LinuxNetworkOptions options;
    options.procRoot = kNet + name + "/proc";
    options.sysRoot = kNet + name + "/sys";
    options.root = kNet + name;
    options.netlink = false;
    return options;
}

// Without NetworkManager, the files decide.
TEST(LinuxNetworkFilesTest, RouterDomainsAndPathComeFromTheFixtureRoots) {
    struct Case {
        const char* root;
        std::optional<std::string> router;
        std::vector<std::string> domains;
        NetworkPath path;
    };
    const Case cases[] = {
        // Two default routes: the lower metric (Ethernet) wins over Wi-Fi.
        {"desk",
         "10.0.1.1",
         {"corp.example.com", "lab.example.com", "Example.COM"},
         {true, {Type::wiredEthernet}}},
        // resolv.conf points at resolved's stub: its own file holds the domains. The Ethernet
        // link is down, so the path leaves through Wi-Fi though the router is the listed one.
        {"stub", "10.0.1.1", {"home.arpa"}, {true, {Type::wifi}}},
        {"missing", std::nullopt, {}, {false, {}}},
    };
    for (const auto& c : cases) {
        LinuxNetwork network(nullptr, fixture(c.root));
        EXPECT_EQ(network.routerAddress(), c.router) << c.root;
        EXPECT_EQ(network.searchDomains(), c.domains) << c.root;
        EXPECT_EQ(network.currentPath(), c.path) << c.root;
        EXPECT_EQ(network.locationAuthorization(), LocationAuthorization::authorizedAlways);
    }
}

TEST(LinuxNetworkFilesTest, ResolvConfKeepsTheLastSearchLineThenTheDomain) {
    EXPECT_EQ(netfiles::parseResolvDomains("search a.example\nsearch b.example c.example\n"
                                           "domain d.example\nnameserver 1.1.1.1\n"),
              (std::vector<std::string>{"b.example", "c.example", "d.example"}));
    EXPECT_TRUE(netfiles::isResolvedStub("nameserver 127.0.0.53\n"));
    EXPECT_FALSE(netfiles::isResolvedStub("nameserver 127.0.0.1\n"));
}

TEST(LinuxNetworkFilesTest, VPNInterfacesAreKnownByTheirNames) {
    LinuxNetwork network(nullptr, fixture("missing"));
    for (const char* name : {"utun3", "ppp0", "ipsec0", "tun0", "tap1", "wg0", "vpn0"}) {
        EXPECT_TRUE(network.isVPNInterface(name)) << name;
    }
    for (const char* name : {"enp3s0", "wlp2s0", "lo", "docker0"}) {
        EXPECT_FALSE(network.isVPNInterface(name)) << name;
    }
}

// NetworkManager ------------------------------------------------------------------------------

const DBusObject kNMMock{"org.freedesktop.NetworkManager", "/org/freedesktop",
                         "org.freedesktop.DBus.Mock"};
const DBusObject kNMSettings{"org.freedesktop.NetworkManager",
                             "/org/freedesktop/NetworkManager/Settings",
                             "org.freedesktop.NetworkManager.Settings"};

class LinuxNetworkBusTest : public BusTest {
  protected:
    void SetUp() override {
        BusTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        auto started = bus->startTemplate("networkmanager", "org.freedesktop.NetworkManager");
        ASSERT_TRUE(started) << started.error().message;
    }

    std::string callForText(const char* member, const DBusConnection::Append& append,
                            const DBusObject& object = kNMMock) {
        test::Reply reply = callAndWait(*probe, object, member, append);
        const char* text = nullptr;
        EXPECT_TRUE(reply) << member;
        if (!reply || DBusConnection::errorOf(reply.get())) {
            ADD_FAILURE() << member << ": " << DBusConnection::errorOf(reply.get()).value_or("");
            return {};
        }
        if (sd_bus_message_read(reply.get(), "s", &text) < 0 &&
            sd_bus_message_read(reply.get(), "o", &text) < 0) {
            return {};
        }
        return text;
    }
    // The template leaves these properties out: added first (unset), then set with a signal.
    void setProperty(const std::string& path, const char* interface, const char* name,
                     const std::string& objectPath) {
        test::Reply add =
            callAndWait(*probe, DBusObject{kNMMock.service, path.c_str(), kNMMock.interface},
                        "AddProperty", [&](sd_bus_message* m) {
                            return sd_bus_message_append(m, "ssv", interface, name, "o", "/");
                        });
        ASSERT_TRUE(add && !DBusConnection::errorOf(add.get()))
            << DBusConnection::errorOf(add.get()).value_or("");
        test::Reply reply = callAndWait(*probe, kNMMock, "SetProperty", [&](sd_bus_message* m) {
            return sd_bus_message_append(m, "sssv", path.c_str(), interface, name, "o",
                                         objectPath.c_str());
        });
        ASSERT_TRUE(reply && !DBusConnection::errorOf(reply.get()))
            << DBusConnection::errorOf(reply.get()).value_or("");
    }
};

TEST_F(LinuxNetworkBusTest, FollowsTheWiFiNameAndVPNConnectionsWithOneUpdatePerChange) {
    LinuxNetwork network(system, fixture("desk"));
    ASSERT_TRUE(waitFor([&] { return network.networkManagerKnown(); }));
    int updates = 0;
    Subscription counting = network.pathChanged.subscribe([&] { ++updates; });
    EXPECT_FALSE(network.currentSSID());

    const std::string device = callForText("AddWiFiDevice", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssi", "wlan0", "wlp2s0", 100);
    });
    const std::string ap = callForText("AddAccessPoint", [&](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssssuuuyu", device.c_str(), "home", "HomeNet",
                                     "00:11:22:33:44:55", 2u, 2437u, 54000u, 80, 0u);
    });
    const std::string connection = callForText("AddWiFiConnection", [&](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssss", device.c_str(), "home_conn", "HomeNet", "wpa-psk");
    });
    const std::string active = callForText("AddActiveConnection", [&](sd_bus_message* m) {
        return sd_bus_message_append(m, "assssu", 1, device.c_str(), connection.c_str(), ap.c_str(),
                                     "home_active", 2u);
    });
    setProperty(device, "org.freedesktop.NetworkManager.Device.Wireless", "ActiveAccessPoint", ap);
    setProperty("/org/freedesktop/NetworkManager", "org.freedesktop.NetworkManager",
                "PrimaryConnection", active);
    ASSERT_TRUE(
        waitFor([&] { return network.currentSSID() == std::optional<std::string>("HomeNet"); }));
    ASSERT_TRUE(waitFor([&] { return updates >= 1; }));
    EXPECT_EQ(updates, 1) << "the SSID appearing is one change";
    EXPECT_EQ(network.currentPath().satisfied, true) << "NetworkManager says connected";

    // A VPN connection over a device of its own.
    const std::string vpnDevice = callForText("AddEthernetDevice", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssi", "corp", "corp0", 100);
    });
    test::Reply added = callAndWait(*probe, kNMSettings, "AddConnection", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "a{sa{sv}}", 1, "connection", 2, "type", "s", "vpn", "id",
                                     "s", "Work");
    });
    ASSERT_TRUE(added && !DBusConnection::errorOf(added.get()));
    const char* vpnConnection = nullptr;
    ASSERT_GE(sd_bus_message_read(added.get(), "o", &vpnConnection), 0);
    const std::string vpnPath = vpnConnection;
    EXPECT_FALSE(network.isVPNInterface("corp0"));
    callForText("AddActiveConnection", [&](sd_bus_message* m) {
        return sd_bus_message_append(m, "assssu", 1, vpnDevice.c_str(), vpnPath.c_str(), "/",
                                     "work_vpn", 2u);
    });
    ASSERT_TRUE(waitFor([&] { return network.isVPNInterface("corp0"); }));
    ASSERT_TRUE(waitFor([&] { return updates >= 2; }));
    EXPECT_EQ(updates, 2) << "the VPN connecting is one more change";
}

TEST_F(LinuxNetworkBusTest, ADisconnectedStateLeavesThePathUnsatisfied) {
    LinuxNetwork network(system, fixture("desk"));
    ASSERT_TRUE(waitFor([&] { return network.networkManagerKnown(); }));
    EXPECT_TRUE(network.currentPath().satisfied);
    test::Reply reply =
        callAndWait(*probe, kNMMock, "SetGlobalConnectionState",
                    [](sd_bus_message* m) { return sd_bus_message_append(m, "u", 20u); });
    ASSERT_TRUE(reply && !DBusConnection::errorOf(reply.get()));
    EXPECT_TRUE(waitFor([&] { return !network.currentPath().satisfied; }))
        << "State 20 (disconnected) though a default route is listed";
}

// rtnetlink ----------------------------------------------------------------------------------

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path);
    file << text;
    return static_cast<bool>(file);
}

// Runs in a child of its own network namespace: 0 passed, 77 skipped, anything else failed.
int netlinkChild() {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        return 77;
    }
    writeFile("/proc/self/setgroups", "deny");
    if (!writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
        return 77;
    }
    // A dummy link where the kernel has them, else the namespace's own loopback (down).
    std::string device = "orveltest0";
    if (std::system("ip link add orveltest0 type dummy >/dev/null 2>&1") != 0) {
        device = "lo";
    }
    RunLoop::install(std::make_unique<PollRunLoop>());
    LinuxNetworkOptions options;
    options.procRoot = "/proc";
    options.sysRoot = "/sys";
    LinuxNetwork network(nullptr, options);
    int updates = 0;
    Subscription counting = network.pathChanged.subscribe([&] { ++updates; });
    if (std::system(("ip addr add 10.77.0.1/24 dev " + device).c_str()) != 0) {
        return 2;
    }
    bool done = false;
    Timer limit = RunLoop::main().after(20, [&] { done = true; });
    RunLoop::main().runModal([&] { return done || updates >= 1; });
    if (updates != 1) {
        return 3;
    }
    // One more turn: what the same change left queued must not make a second update.
    bool turned = false;
    RunLoop::main().async([&] { turned = true; });
    RunLoop::main().runModal([&] { return turned; });
    return updates == 1 ? 0 : 4;
}

TEST(LinuxNetworkNetlinkTest, AnAddressAddedToALinkIsExactlyOnePathUpdate) {
    if (std::system("command -v ip >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "the ip program (iproute2) is not installed";
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(netlinkChild());
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "user and network namespaces are refused here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: ip addr failed, 3: no update within 20 s, 4: two";
}

}  // namespace
}  // namespace orvel
