#include "automations/NetworkSettingsView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/compose/Services.h"
#include "automations/AutomationsAndTriggersView.h"
#include "automations/RuleTabTest.h"
#include "core/ActivityLog.h"
#include "foundation/Registry.h"
#include "platform/Network.h"
#include "reports/PermissionAudit.h"
#include "triggers/NetworkTriggerSource.h"
#include "triggers/TriggerEngine.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

namespace orvel {
namespace {

using ui::Inspector;
using Kind = NetworkMatcher::Kind;

const std::string kNote =
    "Only WiFi SSID rules need the network's name \u2014 without it they cannot match. Gateway, "
    "IP-range, domain, interface and VPN rules work regardless.";

class NetworkSettingsViewTest : public test::RuleTabTest<NetworkSettingsView> {
  protected:
    void SetUp() override {
        RuleTabTest::SetUp();
        engine().start();
        loop().drain();
        counting = engine().rules.subscribe([this](const auto&) { ++updates; });
    }
    std::shared_ptr<NetworkSettingsView> makePage() override {
        return std::make_shared<NetworkSettingsView>(makePermissionTab(engine()),
                                                     services().networkSource(), sim().network(),
                                                     services().permissionAudit());
    }
    // Stores the rule, shows the page with its editor open; nothing counted yet.
    void open(const TriggerRule& rule) {
        engine().add(rule);
        show();
        page->expanded = {rule.id};
        view();
        updates = 0;
    }
    const TriggerRule& stored() { return engine().rules().front(); }
    std::string fieldText(const std::string& label) {
        Inspector v = view();
        auto found = v.control(label);
        return found ? found->node->textBinding.get() : "(no field)";
    }
    std::string placeholder(const std::string& label) {
        Inspector v = view();
        auto found = v.control(label);
        return found ? found->node->text : "(no field)";
    }
    // The texts between the section header and its footer.
    std::vector<std::string> ruleSectionTexts() {
        return textsBetween("WiFi and network rules", "One matcher per rule");
    }
    static TriggerRule wifi(const std::string& ssid) {
        TriggerRule rule;
        rule.name = "WiFi SSID " + ssid;
        rule.source = TriggerSource::wifiSSID;
        rule.matcher = NetworkMatcher::ssid(ssid);
        return rule;
    }
    static TriggerRule network(const std::string& name, NetworkMatcher matcher) {
        TriggerRule rule;
        rule.name = name;
        rule.source = TriggerSource::network;
        rule.matcher = std::move(matcher);
        return rule;
    }

    int updates = 0;
    Subscription counting;
};

TEST_F(NetworkSettingsViewTest, ListsOnlyNetworkRulesInTheEnginesOrderEnabledOrNot) {
    TriggerRule headphones;
    headphones.name = "Headphones";
    headphones.source = TriggerSource::bluetooth;
    TriggerRule nights;
    nights.name = "Nights";
    nights.source = TriggerSource::schedule;
    TriggerRule office = network("Gateway IP 10.0.0.1", NetworkMatcher::gateway("10.0.0.1"));
    office.enabled = false;
    TriggerRule app;
    app.name = "Editor";
    app.source = TriggerSource::app;
    app.appBundleID = "org.example.Editor";
    for (const TriggerRule& rule : {wifi("Zulu"), headphones, office, nights, wifi("Alpha"), app,
                                    network("VPN connected", NetworkMatcher::vpnConnected())}) {
        engine().add(rule);
    }
    show();
    const auto texts = ruleSectionTexts();
    std::vector<std::string> names;
    for (const TriggerRule& rule : engine().rules()) {
        if (std::find(texts.begin(), texts.end(), rule.name) != texts.end()) {
            names.push_back(rule.name);
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"WiFi SSID Zulu", "Gateway IP 10.0.0.1",
                                               "WiFi SSID Alpha", "VPN connected"}));
    for (const char* other : {"Headphones", "Nights", "Editor"}) {
        EXPECT_FALSE(view().contains(other)) << other;
    }
    // The names appear in the engine's order, not sorted.
    auto at = [&](const std::string& name) {
        return std::find(texts.begin(), texts.end(), name) - texts.begin();
    };
    EXPECT_LT(at("WiFi SSID Zulu"), at("Gateway IP 10.0.0.1"));
    EXPECT_LT(at("Gateway IP 10.0.0.1"), at("WiFi SSID Alpha"));
    EXPECT_LT(at("WiFi SSID Alpha"), at("VPN connected"));
    EXPECT_EQ(texts.back(), "Add Rule\u2026");
}

TEST_F(NetworkSettingsViewTest, ANewRuleOpensAsAnEmptyNetworkNameRuleAndAsksForLocationOnce) {
    show();
    ASSERT_TRUE(view().click("Add Rule\u2026"));
    ASSERT_EQ(engine().rules().size(), 1u);
    const TriggerRule& rule = stored();
    EXPECT_EQ(rule.name, "New network rule");
    EXPECT_EQ(rule.source, TriggerSource::wifiSSID);
    EXPECT_TRUE(rule.enabled);
    EXPECT_EQ(rule.matcher, NetworkMatcher::ssid(""));
    EXPECT_EQ(rule.onAppear, TriggerAction::startSession);
    EXPECT_EQ(rule.onClear, TriggerAction::endSession);
    EXPECT_EQ(rule.durationSeconds, 0);
    EXPECT_FALSE(rule.acOnly);
    EXPECT_FALSE(rule.unavailableHere);
    EXPECT_FALSE(rule.btAddress || rule.btBattEnd || rule.schedKind || rule.appBundleID);
    EXPECT_EQ(page->expanded(), std::set<UUID>{rule.id});

    EXPECT_EQ(view().selection("Match"), "WiFi SSID");
    EXPECT_EQ(fieldText("Network name"), "");
    EXPECT_EQ(placeholder("Network name"), "HomeNet");
    EXPECT_TRUE(view().control("On join"));
    EXPECT_TRUE(view().control("On leaving"));
    EXPECT_TRUE(view().contains("symmetric by default"));
    EXPECT_FALSE(view().control("On seen"));
    EXPECT_EQ(sim().network().locationRequests(), 1);

    // Once decided, the system is not asked again.
    sim().network().setLocationAuthorization(LocationAuthorization::denied);
    ASSERT_TRUE(view().click("Add Rule\u2026"));
    EXPECT_EQ(sim().network().locationRequests(), 1);
    EXPECT_EQ(page->expanded().size(), 2u) << "both editors open";
}

TEST_F(NetworkSettingsViewTest, EachKindStoresItsEmptyMatcherSourceAndValueRowAndKeepsTheName) {
    struct Case {
        const char* kind;
        NetworkMatcher matcher;
        TriggerSource source;
        const char* field;  // nullptr: no text field
        const char* placeholder;
        bool typePicker;
        const char* appear;
        const char* clear;
    };
    const Case cases[] = {
        {"Gateway IP", NetworkMatcher::gateway(""), TriggerSource::network, "Value", "10.0.1.1",
         false, "On seen", "On gone"},
        {"IPv4 range", NetworkMatcher::ipv4Range(""), TriggerSource::network, "Value",
         "10.0.1.0/24", false, "On seen", "On gone"},
        {"Search domain", NetworkMatcher::searchDomain(""), TriggerSource::network, "Value",
         "example.com", false, "On seen", "On gone"},
        {"Interface type", NetworkMatcher::interfaceType("ethernet"), TriggerSource::network,
         nullptr, nullptr, true, "On seen", "On gone"},
        {"VPN connected", NetworkMatcher::vpnConnected(), TriggerSource::network, nullptr, nullptr,
         false, "On seen", "On gone"},
        {"WiFi SSID", NetworkMatcher::ssid(""), TriggerSource::wifiSSID, "Network name", "HomeNet",
         false, "On join", "On leaving"},
    };
    sim().network().setLocationAuthorization(LocationAuthorization::denied);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        engine().deleteAll();
        TriggerRule rule = wifi("HomeNet");
        rule.name = "Imported";
        open(rule);
        const int asked = sim().network().locationRequests();
        ASSERT_TRUE(view().pick("Match", c.kind)) << view().lastFailure();
        EXPECT_EQ(updates, 1);
        EXPECT_EQ(stored().matcher, c.matcher);
        EXPECT_EQ(stored().matcher->value, c.matcher.value) << "the old value is dropped";
        EXPECT_EQ(stored().source, c.source);
        EXPECT_EQ(stored().name, "Imported");
        EXPECT_EQ(view().selection("Match"), c.kind);
        for (const char* field : {"Value", "Network name"}) {
            const bool expected = c.field && std::string(field) == c.field;
            EXPECT_EQ(view().control(field).has_value(), expected) << field;
        }
        if (c.field) {
            EXPECT_EQ(fieldText(c.field), "");
            EXPECT_EQ(placeholder(c.field), c.placeholder);
        }
        EXPECT_EQ(view().selection("Type"),
                  c.typePicker ? std::optional<std::string>("ethernet") : std::nullopt);
        EXPECT_TRUE(view().control(c.appear));
        EXPECT_TRUE(view().control(c.clear));
        EXPECT_TRUE(view().control("Session duration"));
        EXPECT_TRUE(view().control("Only while on AC power"));
        EXPECT_TRUE(view().control("Delete Rule"));
        // The Wi-Fi kind asks the network source, which passes on only an undecided status.
        EXPECT_EQ(sim().network().locationRequests(), asked);
    }
}

TEST_F(NetworkSettingsViewTest, SwitchingBackToTheNetworkNameKindAsksForLocationAgain) {
    open(wifi("HomeNet"));
    ASSERT_TRUE(view().pick("Match", "Gateway IP"));
    EXPECT_EQ(sim().network().locationRequests(), 0);
    ASSERT_TRUE(view().pick("Match", "WiFi SSID"));
    EXPECT_EQ(stored().source, TriggerSource::wifiSSID);
    EXPECT_EQ(sim().network().locationRequests(), 1);
}

TEST_F(NetworkSettingsViewTest, TheInterfacePickerStoresItsTypeAndLeavesTheName) {
    open(network("Docked", NetworkMatcher::interfaceType("ethernet")));
    EXPECT_EQ(view().selection("Type"), "ethernet");
    ASSERT_TRUE(view().pick("Type", "wifi"));
    EXPECT_EQ(stored().matcher, NetworkMatcher::interfaceType("wifi"));
    EXPECT_EQ(stored().name, "Docked");
    EXPECT_EQ(view().selection("Type"), "wifi");
    EXPECT_EQ(updates, 1);
}

TEST_F(NetworkSettingsViewTest, AStoredRuleWithoutAMatcherReadsAsAnEmptyNetworkNameRule) {
    TriggerRule rule;
    rule.name = "Legacy";
    rule.source = TriggerSource::network;
    open(rule);
    EXPECT_EQ(view().selection("Match"), "WiFi SSID");
    EXPECT_EQ(fieldText("Network name"), "");
    EXPECT_TRUE(view().control("On join"));
    EXPECT_EQ(updates, 0) << "reading writes nothing";
}

TEST_F(NetworkSettingsViewTest, ATypedValueRenamesTheRuleAfterTheKindAndKeepsItAsTyped) {
    struct Case {
        TriggerRule rule;
        const char* field;
        const char* typed;
        NetworkMatcher matcher;
        const char* name;
    };
    const Case cases[] = {
        {network("IPv4 range", NetworkMatcher::ipv4Range("")), "Value", "10.0.0.0/8",
         NetworkMatcher::ipv4Range("10.0.0.0/8"), "IPv4 range 10.0.0.0/8"},
        {wifi(""), "Network name", "HomeNet", NetworkMatcher::ssid("HomeNet"), "WiFi SSID HomeNet"},
        {network("Imported name", NetworkMatcher::searchDomain("")), "Value", " lab.example ",
         NetworkMatcher::searchDomain(" lab.example "), "Search domain  lab.example "},
        {network("x", NetworkMatcher::gateway("")), "Value", "not an address",
         NetworkMatcher::gateway("not an address"), "Gateway IP not an address"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        engine().deleteAll();
        open(c.rule);
        ASSERT_TRUE(view().type(c.field, c.typed)) << view().lastFailure();
        ASSERT_TRUE(view().submit(c.field));
        EXPECT_EQ(updates, 1);
        EXPECT_EQ(stored().matcher, c.matcher);
        EXPECT_EQ(stored().name, c.name);
        EXPECT_EQ(fieldText(c.field), c.typed);
    }
    // Clearing the field leaves the kind's name alone.
    ASSERT_TRUE(view().clearText("Value"));
    ASSERT_TRUE(view().submit("Value"));
    EXPECT_EQ(stored().name, "Gateway IP");
    EXPECT_EQ(stored().matcher, NetworkMatcher::gateway(""));
}

TEST_F(NetworkSettingsViewTest, AHalfTypedRangeNeverReachesTheSourceOrStartsASession) {
    // Inside 10.0.0.0/1 (0.0.0.0 to 127.255.255.255) but not inside 10.0.0.0/16.
    sim().network().setInterfaces({SimNetwork::ipv4("en0", "100.64.0.5")});
    open(network("IPv4 range", NetworkMatcher::ipv4Range("")));
    loop().drain();
    const std::size_t logged = services().activityLog().entries().size();
    std::vector<std::string> seen;
    auto record = [&] {
        for (const TriggerRule& rule : services().networkSource().rules()) {
            if (rule.matcher) {
                seen.push_back(rule.matcher->value);
            }
        }
    };
    for (const char key : std::string("10.0.0.0/16")) {
        ASSERT_TRUE(view().type("Value", std::string(1, key)));
        loop().advance(0.2);  // a steady typist
        record();
        EXPECT_FALSE(controller().isActive()) << "after " << key;
    }
    EXPECT_EQ(fieldText("Value"), "10.0.0.0/16") << "the field shows every key at once";
    loop().advance(NetworkTriggerSource::kEvaluationDelay + 1);
    record();
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(stored().name, "IPv4 range 10.0.0.0/16");
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "10.0.0.0/1"), 0);
    EXPECT_EQ(seen.back(), "10.0.0.0/16");
    EXPECT_FALSE(controller().isActive());
    EXPECT_TRUE(held().empty());
    EXPECT_EQ(services().activityLog().entries().size(), logged);
}

TEST_F(NetworkSettingsViewTest, AValueStillBeingTypedIsWrittenBeforeTheKindChanges) {
    open(wifi(""));
    ASSERT_TRUE(view().type("Network name", "Home"));
    ASSERT_TRUE(view().pick("Match", "Gateway IP"));
    loop().advance(1);
    EXPECT_EQ(updates, 2);
    EXPECT_EQ(stored().name, "WiFi SSID Home");
    EXPECT_EQ(stored().matcher, NetworkMatcher::gateway("")) << "the typed value stays behind";
    EXPECT_EQ(fieldText("Value"), "");
}

TEST_F(NetworkSettingsViewTest, TheClearingActionWritesOnlyOnClear) {
    TriggerRule rule = network("VPN connected", NetworkMatcher::vpnConnected());
    rule.onAppear = TriggerAction::endSession;
    open(rule);
    EXPECT_EQ(view().selection("On gone"), "endSession");
    ASSERT_TRUE(view().pick("On gone", "nothing"));
    EXPECT_EQ(stored().onClear, TriggerAction::nothing);
    EXPECT_EQ(stored().onAppear, TriggerAction::endSession);
    EXPECT_EQ(view().selection("On gone"), "nothing");
    EXPECT_EQ(updates, 1);
}

TEST_F(NetworkSettingsViewTest, CreatedEditedTestedAndDeletedThroughTheControls) {
    show();
    ASSERT_TRUE(view().click("Add Rule\u2026"));
    ASSERT_TRUE(view().pick("Match", "Gateway IP"));
    ASSERT_TRUE(view().type("Value", "10.0.1.1"));
    ASSERT_TRUE(view().submit("Value"));
    ASSERT_TRUE(view().pick("On gone", "nothing"));
    ASSERT_TRUE(view().pick("Session duration", "3600"));
    ASSERT_TRUE(view().setToggle("Only while on AC power", true));
    const TriggerRule& rule = stored();
    EXPECT_EQ(rule.name, "Gateway IP 10.0.1.1");
    EXPECT_EQ(rule.source, TriggerSource::network);
    EXPECT_EQ(rule.matcher, NetworkMatcher::gateway("10.0.1.1"));
    EXPECT_EQ(rule.onClear, TriggerAction::nothing);
    EXPECT_EQ(rule.durationSeconds, 3600);
    EXPECT_TRUE(rule.acOnly);
    EXPECT_TRUE(view().contains("Gateway IP 10.0.1.1")) << "the row shows the new name";

    ASSERT_TRUE(view().click("Test"));
    loop().drain();
    EXPECT_TRUE(controller().isActive());
    EXPECT_FALSE(held().empty());
    EXPECT_EQ(services().activityLog().entries().back().title, "Test \u2014 Gateway IP 10.0.1.1");

    ASSERT_TRUE(view().click("Delete Rule"));
    EXPECT_TRUE(engine().rules().empty());
    EXPECT_FALSE(view().contains("Gateway IP 10.0.1.1"));
    EXPECT_FALSE(view().control("Match"));
}

class NetworkPermissionTest : public NetworkSettingsViewTest {};

TEST_F(NetworkPermissionTest, AFreshPageCountsAsGrantedAndCheckingUntilItAppears) {
    sim().network().setLocationAuthorization(LocationAuthorization::denied);
    NetworkSettingsView fresh(makePermissionTab(engine()), services().networkSource(),
                              sim().network(), services().permissionAudit());
    EXPECT_TRUE(fresh.locGranted());
    EXPECT_EQ(fresh.locStatus(), "Checking\u2026");
    EXPECT_TRUE(fresh.expanded().empty());
    show();
    view();
    EXPECT_FALSE(page->locGranted());
    EXPECT_EQ(page->locStatus(), "Denied");
}

TEST_F(NetworkPermissionTest, EachStatusShowsItsWordAndOnlyAlwaysCountsAsGranted) {
    struct Case {
        LocationAuthorization status;
        const char* word;
        bool granted;
    };
    const Case cases[] = {
        {LocationAuthorization::notDetermined, "Not granted", false},
        {LocationAuthorization::restricted, "Restricted", false},
        {LocationAuthorization::denied, "Denied", false},
        {LocationAuthorization::authorizedAlways, "Granted", true},
        {LocationAuthorization::authorizedWhenInUse, "Unknown", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        sim().network().setLocationAuthorization(c.status);
        show();
        Inspector v = view();
        EXPECT_TRUE(v.contains("WiFi network name"));
        EXPECT_TRUE(v.contains(c.word));
        EXPECT_EQ(v.contains(kNote), !c.granted);
        EXPECT_EQ(v.control("Enable").has_value(), !c.granted);
        if (!c.granted) {
            EXPECT_EQ(v.find(kNote)->node->foreground, ui::ForegroundStyle(ui::Color::orange()));
        }
    }
}

TEST_F(NetworkPermissionTest, EnableWhileDeniedExplainsAndOpensTheSettingsOnlyWhenAsked) {
    struct Case {
        int response;
        std::vector<std::string> opened;
    };
    const Case cases[] = {
        {1001, {}},  // "Cancel"
        {1000, {"Privacy_LocationServices"}},
    };
    sim().workspace().setSettingsPanels({"Privacy_LocationServices"});
    sim().network().setLocationAuthorization(LocationAuthorization::denied);
    show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.response);
        const std::size_t alerts = host().alerts().size();
        host().scriptAlert(ui::HeadlessHost::answer(c.response));
        ASSERT_TRUE(view().click("Enable"));
        ASSERT_EQ(host().alerts().size(), alerts + 1);
        const auto& alert = *host().alerts().back();
        EXPECT_EQ(alert.content().messageText, "The WiFi name needs no permission");
        EXPECT_EQ(alert.buttonTitles(), (std::vector<std::string>{"Open Settings", "Cancel"}));
        EXPECT_EQ(sim().workspace().openedPanels(), c.opened);
        EXPECT_TRUE(sim().workspace().openedURLs().empty());
        EXPECT_EQ(sim().network().locationRequests(), 0) << "a decided status is not asked";
    }
    EXPECT_EQ(host().unscriptedAlerts(), 0);
}

TEST_F(NetworkPermissionTest, TheNoteGoesWithinTwoSecondsOfGrantingWithoutTouchingTheRules) {
    sim().network().setLocationAuthorization(LocationAuthorization::denied);
    engine().add(wifi("HomeNet"));
    show();
    ASSERT_TRUE(view().contains(kNote));
    loop().advance(0.7);  // granted at some moment between two refreshes
    updates = 0;
    const auto writes = sim().userDefaults().writeCount();
    sim().network().setLocationAuthorization(LocationAuthorization::authorizedAlways);
    EXPECT_TRUE(view().contains(kNote)) << "the page reads the status on its own schedule";
    loop().advance(NetworkSettingsView::kPermissionRefreshInterval);
    EXPECT_FALSE(view().contains(kNote));
    EXPECT_TRUE(view().contains("Granted"));
    EXPECT_FALSE(view().control("Enable"));
    EXPECT_EQ(updates, 0);
    EXPECT_EQ(sim().userDefaults().writeCount(), writes);
}

TEST_F(NetworkPermissionTest, AnIdlePageIsNotRedrawnAndStopsReadingWhenHidden) {
    sim().network().setLocationAuthorization(LocationAuthorization::denied);
    show();
    view();
    int changes = 0;
    auto watching = page->objectWillChange.subscribe([&] { ++changes; });
    const auto evaluations = pageHost->evaluationCount();
    loop().advance(60);
    view();
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(pageHost->evaluationCount(), evaluations + 1) << "only the one asked for here";

    pageHost->setShown(false);
    sim().network().setLocationAuthorization(LocationAuthorization::authorizedAlways);
    loop().advance(10);
    EXPECT_FALSE(page->locGranted()) << "no refresh while off screen";
    pageHost->setShown(true);
    loop().drain();
    EXPECT_TRUE(page->locGranted()) << "appearing again reads at once";
}

TEST_F(NetworkPermissionTest, TheAutomationsPageShowsThisSubTabForItsTag) {
    auto shown = AutomationsAndTriggersView::subTabPage(services().automationServices(),
                                                        AutomationsAndTriggersView::kNetwork);
    ASSERT_TRUE(std::dynamic_pointer_cast<NetworkSettingsView>(shown));
}

}  // namespace
}  // namespace orvel
