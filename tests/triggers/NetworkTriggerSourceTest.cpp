#include "triggers/NetworkTriggerSource.h"

#include <gtest/gtest.h>

#include "support/SessionTest.h"
#include "triggers/TriggerEngine.h"
#include "triggers/TriggerTestSupport.h"

namespace orvel {
namespace {

using test::activity;
using Events = std::vector<std::string>;
using Type = NetworkInterfaceType;

// Rules run only on AC power while the machine is on battery: every event the source reports
// leaves one activity line with its title and starts nothing.
class NetworkTriggerSourceTest : public test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        sim().powerSources().setOnAC(false);
        services().triggerEngine().start();
        loop().drain();
    }

    NetworkTriggerSource& source() { return services().networkSource(); }
    SimNetwork& net() { return sim().network(); }

    static TriggerRule rule(const char* name, NetworkMatcher matcher) {
        TriggerRule r =
            test::makeRule(matcher.kind == NetworkMatcher::Kind::ssid ? TriggerSource::wifiSSID
                                                                      : TriggerSource::network,
                           name);
        r.matcher = std::move(matcher);
        r.acOnly = true;
        return r;
    }

    std::vector<std::string> events() {
        loop().drain();
        std::vector<std::string> titles;
        for (const auto& line : activity(services().activityLog())) {
            const auto first = line.find('|');
            const auto second = line.find('|', first + 1);
            if (line.substr(second + 1) == test::kIgnoredOffAC) {
                titles.push_back(line.substr(first + 1, second - first - 1));
            }
        }
        return titles;
    }

    // One path update, and the wait for its evaluation.
    void pathChanges() {
        net().sendPathUpdates();
        loop().advance(NetworkTriggerSource::kEvaluationDelay);
    }

    bool matches(NetworkMatcher matcher) { return source().matches(matcher); }
};

TEST_F(NetworkTriggerSourceTest, TheFirstStartRecordsAndOnlyLaterFlipsReport) {
    net().setRouter("10.0.1.1");
    services().triggerEngine().add(rule("Office", NetworkMatcher::gateway("10.0.1.1")));
    EXPECT_EQ(events(), Events{}) << "already matching at the first start";
    EXPECT_EQ(source().lastState().size(), 1u);

    // Handed over while running: recorded by its start, reported from its next flip.
    net().setSearchDomains({"corp.example.com"});
    services().triggerEngine().add(rule("Corp", NetworkMatcher::searchDomain("corp.example.com")));
    EXPECT_EQ(events(), Events{});

    net().setRouter(std::nullopt);
    net().setSearchDomains({});
    pathChanges();
    EXPECT_EQ(events(),
              (Events{"Gateway IP 10.0.1.1 gone", "Search domain corp.example.com gone"}));
}

// A rule taken away and handed over again while the source runs keeps its last state as the
// previous value, so a flip while it was away is reported when it comes back.
TEST_F(NetworkTriggerSourceTest, ARuleHandedOverAgainComparesWithItsStateBeforeItLeft) {
    net().setRouter("10.0.1.1");
    TriggerRule office = rule("Office", NetworkMatcher::gateway("10.0.1.1"));
    services().triggerEngine().add(rule("VPN", NetworkMatcher::vpnConnected()));
    services().triggerEngine().add(office);
    services().triggerEngine().deleteRule(office.id);
    ASSERT_TRUE(source().isRunning());
    net().setRouter(std::nullopt);
    services().triggerEngine().add(office);
    EXPECT_EQ(events(), Events{"Gateway IP 10.0.1.1 gone"});
}

TEST_F(NetworkTriggerSourceTest, EachPathUpdateOfABurstEvaluatesOnceAndTheEdgeReportsOnce) {
    services().triggerEngine().add(rule("Office", NetworkMatcher::gateway("10.0.1.1")));
    net().setRouter("10.0.1.1");
    const auto before = loop().timersFired();
    net().sendPathUpdates(3);
    loop().advance(1.0);
    EXPECT_EQ(events(), Events{}) << "nothing before 1.5 s";
    loop().advance(0.5);
    EXPECT_EQ(loop().timersFired() - before, 3u) << "three evaluations, none coalesced";
    EXPECT_EQ(events(), Events{"Gateway IP 10.0.1.1 seen"});
}

TEST_F(NetworkTriggerSourceTest, StopForgetsAndEvaluationsQueuedBeforeItFindNoRules) {
    net().setRouter("10.0.1.1");
    services().triggerEngine().add(rule("Office", NetworkMatcher::gateway("10.0.1.1")));
    net().setRouter(std::nullopt);
    net().sendPathUpdates();
    source().stop();
    loop().advance(NetworkTriggerSource::kEvaluationDelay);
    EXPECT_EQ(events(), Events{});
    EXPECT_TRUE(source().lastState().empty());
    source().start(services().triggerEngine().rules());
    EXPECT_EQ(events(), Events{}) << "the next start records again";
}

TEST_F(NetworkTriggerSourceTest, GrantingLocationReportsTheCurrentNetworkWithoutAPathChange) {
    net().setSSID("homenet");
    services().triggerEngine().add(rule("Home", NetworkMatcher::ssid("HomeNet")));
    EXPECT_FALSE(matches(NetworkMatcher::ssid("HomeNet"))) << "no Location, no name";
    source().requestLocationAuthorization();
    EXPECT_EQ(net().locationRequests(), 1);
    net().setLocationAuthorization(LocationAuthorization::authorizedAlways);
    EXPECT_EQ(events(), Events{"Joined WiFi \"HomeNet\""});
    source().requestLocationAuthorization();
    EXPECT_EQ(net().locationRequests(), 1) << "a decided status is never asked again";
    net().setLocationAuthorization(LocationAuthorization::denied);
    EXPECT_EQ(events(), (Events{"Joined WiFi \"HomeNet\"", "Left WiFi \"HomeNet\""}));
}

TEST_F(NetworkTriggerSourceTest, MatchersCompareTheirFactsAsEachCaseSays) {
    net().setLocationAuthorization(LocationAuthorization::authorizedAlways);
    net().setSSID("homenet");
    net().setRouter("10.0.1.1");
    net().setSearchDomains({"Example.COM", "lan"});
    net().setInterfaces({SimNetwork::ipv4("en0", "10.0.1.200"),
                         {"utun3", true, true, false, false, "fe80::1"},
                         {"utun4", true, false, false, false, "fd00::4"}});
    struct Case {
        NetworkMatcher matcher;
        bool matches;
    };
    const Case cases[] = {
        {NetworkMatcher::ssid("HomeNet"), true},
        {NetworkMatcher::ssid("HomeNet2"), false},
        {NetworkMatcher::gateway("10.0.1.1"), true},
        {NetworkMatcher::gateway("10.0.1.1 "), false},
        {NetworkMatcher::searchDomain("example.com"), true},
        {NetworkMatcher::searchDomain("corp.example.com"), false},
        {NetworkMatcher::searchDomain("LAN"), true},
        {NetworkMatcher::ipv4Range("10.0.1.0/24"), true},
        {NetworkMatcher::ipv4Range("10.0.2.0/24"), false},
        {NetworkMatcher::vpnConnected(), false},  // utun with IPv6 only
    };
    for (const auto& c : cases) {
        EXPECT_EQ(matches(c.matcher), c.matches)
            << rawValue(c.matcher.kind) << " " << c.matcher.value;
    }
    net().setInterfaces({SimNetwork::ipv4("utun3", "10.8.0.2")});
    EXPECT_TRUE(matches(NetworkMatcher::vpnConnected()));
    net().setInterfacesUnreadable(true);
    EXPECT_FALSE(matches(NetworkMatcher::vpnConnected()));
    EXPECT_FALSE(matches(NetworkMatcher::ipv4Range("0.0.0.0/0")));
}

TEST_F(NetworkTriggerSourceTest, InterfaceTypeReadsTheRunningMonitorsPath) {
    net().setPath({true, {Type::wiredEthernet}});
    EXPECT_FALSE(matches(NetworkMatcher::interfaceType("ethernet"))) << "stopped";
    services().triggerEngine().add(rule("Desk", NetworkMatcher::interfaceType("ethernet")));
    struct Case {
        const char* payload;
        NetworkPath path;
        bool matches;
    };
    const Case cases[] = {
        {"ethernet", {true, {Type::wiredEthernet}}, true},
        {"Ethernet", {true, {Type::wiredEthernet}}, true},
        {"ETHERNET", {true, {Type::wiredEthernet}}, true},
        {"ethernet", {false, {Type::wiredEthernet}}, false},
        {"wifi", {true, {Type::wifi}}, true},
        {"Wi-Fi", {true, {Type::wifi}}, true},
        {"", {true, {Type::wifi}}, true},
        {"wifi", {true, {Type::wiredEthernet}}, false},
        {"ethernet", {true, {Type::other}}, false},
    };
    for (const auto& c : cases) {
        net().setPath(c.path);
        EXPECT_EQ(matches(NetworkMatcher::interfaceType(c.payload)), c.matches)
            << "'" << c.payload << "' satisfied=" << c.path.satisfied;
    }
}

// Addresses of a link that is down (Linux keeps static ones on an unplugged cable) say nothing
// about where the machine is.
TEST_F(NetworkTriggerSourceTest, AddressesOfAnInterfaceNotUpAndRunningAreNoMatch) {
    struct Case {
        bool up;
        bool running;
        bool matches;
    };
    const Case cases[] = {{true, true, true}, {true, false, false}, {false, false, false}};
    for (const auto& c : cases) {
        net().setInterfaces({{"enp3s0", c.up, c.running, false, true, "192.168.7.20"}});
        EXPECT_EQ(matches(NetworkMatcher::ipv4Range("192.168.7.0/24")), c.matches)
            << c.up << c.running;
    }
}

TEST_F(NetworkTriggerSourceTest, RangesContainWhatTheirPrefixCovers) {
    struct Case {
        const char* address;
        const char* range;
        bool inside;
    };
    const Case cases[] = {
        {"10.0.1.200", "10.0.1.0/24", true},
        {"10.0.2.1", "10.0.1.0/24", false},
        {"10.0.1.5", "10.0.1.5/32", true},
        {"10.0.1.6", "10.0.1.5/32", false},
        {"10.0.1.99", "10.0.1.77/24", true},
        {"192.168.0.1", "10.0.0.0/0", true},
        {"192.168.0.1", "x/0", false},
        {"10.0.1.1", "10.0.1.0/33", false},
        {"10.0.1.1", "10.0.1.0", false},
        {"10.0.1.1", "10.0.1/24", false},
        {"10.0.1.1", "10.0.1.0/x", false},
        {"10.0.1.1", "10.0.1.0//24", true},
        {"10.0.1.1", "10.0.1.0/+24", true},
        {"10.0.1.1", "10.0.1.0/-1", false},
        {"10.0.1.1", "10.0.1.0/24/1", false},
        {"10.0.1.1", "", false},
        {"not an address", "10.0.1.0/24", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NetworkTriggerSource::cidrContains(c.address, c.range), c.inside)
            << c.address << " in " << c.range;
    }
}

// Stored ranges may be written with empty pieces or a "+", but a piece that is not a number
// makes the whole text unreadable rather than being skipped.
TEST_F(NetworkTriggerSourceTest, IPv4TextReadsFourNumbersOrNothing) {
    struct Case {
        const char* text;
        std::optional<std::uint32_t> value;
    };
    const Case cases[] = {
        {"10.0.1.2", 0x0a000102u},    {"10..0.1.2", 0x0a000102u},
        {"+10.0.1.+2", 0x0a000102u},  {"255.255.255.255", 0xffffffffu},
        {"10.x.0.1.2", std::nullopt}, {"a.10.0.1.2", std::nullopt},
        {"10.0.1.256", std::nullopt}, {"10.0.1", std::nullopt},
        {"10.0.1.2.3", std::nullopt}, {" 10.0.1.2", std::nullopt},
        {"10.0.1.-2", std::nullopt},  {"10.0.1.99999999999", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NetworkTriggerSource::parseIPv4(c.text), c.value) << "'" << c.text << "'";
    }
}

}  // namespace
}  // namespace orvel
