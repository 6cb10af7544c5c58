#include "automations/NetworkMatchKinds.h"

#include <gtest/gtest.h>

#include "automations/RuleTabState.h"
#include "foundation/Localization.h"
#include "support/OrvelTest.h"
#include "triggers/TriggerEngine.h"

namespace orvel {
namespace {

using Kind = NetworkMatcher::Kind;

class NetworkMatchKindsTest : public test::OrvelTest {
  protected:
    void inFrench() {
        Localization::shared().setTable({{"WiFi SSID", "SSID Wi-Fi"},
                                         {"Interface type", "Type d'interface"},
                                         {"VPN connected", "VPN connecté"},
                                         {"Checking\u2026", "Vérification\u2026"}});
    }
};

TEST_F(NetworkMatchKindsTest, KindNamesMakeTheirMatcherWithTheValueAsTyped) {
    struct Case {
        const char* name;
        const char* value;
        NetworkMatcher expected;
    };
    const Case cases[] = {
        {"WiFi SSID", " Cafe Net ", {Kind::ssid, " Cafe Net "}},
        {"WiFi SSID", "", {Kind::ssid, ""}},
        {"IPv4 range", "10.0.0.0/8 ", {Kind::ipv4Range, "10.0.0.0/8 "}},
        {"Gateway IP", "not an address", {Kind::gateway, "not an address"}},
        {"Search domain", "corp.example", {Kind::searchDomain, "corp.example"}},
        {"Interface type", "", {Kind::interfaceType, "ethernet"}},
        {"Interface type", "wifi", {Kind::interfaceType, "wifi"}},
        {"Interface type", " ", {Kind::interfaceType, " "}},
        {"VPN connected", "ignored", NetworkMatcher::vpnConnected()},
        {"wifi ssid", "Home", NetworkMatcher::vpnConnected()},
        {"WiFi SSID ", "Home", NetworkMatcher::vpnConnected()},
        {"", "", NetworkMatcher::vpnConnected()},
    };
    for (bool french : {false, true}) {
        if (french) {
            inFrench();
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " / " + c.value + (french ? " (fr)" : ""));
            const NetworkMatcher made = network_kinds::makeMatcher(c.name, c.value);
            EXPECT_EQ(made.kind, c.expected.kind);
            EXPECT_EQ(made.value, c.expected.value);
        }
    }
}

TEST_F(NetworkMatchKindsTest, RuleNamesAreTheEnglishKindNameAndTheValueUntrimmed) {
    inFrench();
    EXPECT_EQ(network_kinds::ruleName("WiFi SSID", ""), "WiFi SSID");
    EXPECT_EQ(network_kinds::ruleName("Gateway IP", "10.0.0.1"), "Gateway IP 10.0.0.1");
    EXPECT_EQ(network_kinds::ruleName("WiFi SSID", "  Home "), "WiFi SSID   Home ");
}

TEST_F(NetworkMatchKindsTest, TitlesAreLocalisedAndAnUnknownNameReadsAsVpn) {
    struct Case {
        const char* name;
        const char* english;
        const char* french;
    };
    const Case cases[] = {
        {"WiFi SSID", "WiFi SSID", "SSID Wi-Fi"},
        {"IPv4 range", "IPv4 range", "IPv4 range"},  // no entry: the key itself
        {"Interface type", "Interface type", "Type d'interface"},
        {"VPN connected", "VPN connected", "VPN connecté"},
        {"Wifi SSID", "VPN connected", "VPN connecté"},
        {"", "VPN connected", "VPN connecté"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(network_kinds::kindTitle(c.name), c.english) << c.name;
    }
    inFrench();
    for (const Case& c : cases) {
        EXPECT_EQ(network_kinds::kindTitle(c.name), c.french) << c.name;
    }
}

TEST_F(NetworkMatchKindsTest, EveryMatcherKindNamesThePickerTagThatMakesIt) {
    inFrench();
    for (std::string_view name : network_kinds::kNames) {
        const NetworkMatcher made = network_kinds::makeMatcher(name, "x");
        EXPECT_EQ(network_kinds::kindName(made.kind), name);
    }
}

TEST_F(NetworkMatchKindsTest, AFreshRuleTabIsGrantedCheckingAndHasNothingOpen) {
    inFrench();
    const RuleTabState state = makePermissionTab(services().triggerEngine());
    EXPECT_EQ(state.engine, &services().triggerEngine());
    EXPECT_TRUE(state.expanded.empty());
    EXPECT_TRUE(state.granted);
    EXPECT_EQ(state.status, "Vérification\u2026");
}

}  // namespace
}  // namespace orvel
