#include "automations/BluetoothSettingsView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "automations/RuleTabTest.h"
#include "core/ActivityLog.h"
#include "foundation/DateFormatting.h"
#include "reports/PermissionAudit.h"
#include "triggers/BluetoothTriggerSource.h"
#include "triggers/TriggerEngine.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

namespace orvel {
namespace {

using ui::Inspector;
using Auth = BluetoothAuthorization;

constexpr const char* kKeyboard = "F0:99:B6:00:00:01";
constexpr const char* kHeadphonesAddress = "A4:83:E7:11:22:33";
constexpr const char* kFloorToggle = "End sessions when battery drops below";
constexpr const char* kRecoveryToggle = "Re-enable when it recovers above";
constexpr const char* kDeniedNote =
    "Without Bluetooth permission, device rules can never fire. Every other part of Orvel works.";

class BluetoothSettingsViewTest : public test::RuleTabTest<BluetoothSettingsView> {
  protected:
    void SetUp() override {
        RuleTabTest::SetUp();
        setCurrentLocaleIdentifier("en_US");
        show();
    }
    void TearDown() override {
        RuleTabTest::TearDown();
        setCurrentLocaleIdentifier(std::nullopt);
    }
    std::shared_ptr<BluetoothSettingsView> makePage() override {
        return std::make_shared<BluetoothSettingsView>(
            makePermissionTab(engine()), services().bluetoothSource(), sim().bluetooth(),
            sim().network(), services().permissionAudit());
    }
    void pairBoth() {
        sim().bluetooth().pair(BluetoothDevice{kKeyboard, "Keyboard", false});
        sim().bluetooth().pair(BluetoothDevice{kHeadphonesAddress, "Headphones", false});
    }
    std::optional<TriggerRule> stored(const UUID& id) {
        const TriggerRule* rule = storedRule(id);
        return rule ? std::optional<TriggerRule>(*rule) : std::nullopt;
    }
    static TriggerRule btRule(const std::string& name, const char* address = kHeadphonesAddress) {
        TriggerRule rule;
        rule.name = name;
        rule.source = TriggerSource::bluetooth;
        rule.btAddress = address;
        rule.btName = name;
        return rule;
    }
    // Stores the rule and opens its editor.
    UUID open(TriggerRule rule) {
        engine().add(rule);
        page->expanded = {rule.id};
        view();
        return rule.id;
    }
    // The stepper whose label reads `label` (the last one so labelled), as shown now.
    std::optional<Inspector::Found> stepper(std::string_view label) {
        std::optional<Inspector::Found> found;
        std::vector<const ui::Node*> path;
        std::function<void(const ui::Node&)> walk = [&](const ui::Node& node) {
            if (node.kind == ui::NodeKind::stepper && Inspector::textsOf(node) == label) {
                found = Inspector::Found{&node, path};
            }
            path.push_back(&node);
            for (const auto& child : node.children) {
                walk(child.node());
            }
            path.pop_back();
        };
        walk(pageHost->tree().node());
        return found;
    }
    // One click on a stepper's arrow, as the control does it: within its range, and nothing
    // written when the value would not change.
    void step(std::string_view label, int direction) {
        view();
        auto found = stepper(label);
        ASSERT_TRUE(found) << "no stepper " << label;
        const ui::Node& node = *found->node;
        const double now = node.numberBinding.get();
        const double next = std::clamp(now + direction * node.step, node.minimum, node.maximum);
        if (next != now) {
            node.numberBinding.set(next);
        }
    }
    // The texts of the rules section, between its header and its footer.
    std::vector<std::string> ruleSectionTexts() {
        return textsBetween("Bluetooth rules", "Add Rule\u2026");
    }
    std::vector<std::string> listedNames(const std::set<std::string>& names) {
        std::vector<std::string> found;
        for (const std::string& text : ruleSectionTexts()) {
            // A row shows its name as the title and in its switch's label.
            if (names.count(text) != 0 && (found.empty() || found.back() != text)) {
                found.push_back(text);
            }
        }
        return found;
    }
};

TEST_F(BluetoothSettingsViewTest, AddTakesTheFirstPairedDeviceByNameOrANamelessRuleAndOpensIt) {
    struct Case {
        bool paired;
        const char* name;
        std::optional<std::string> address;
    };
    for (const Case& c : {Case{true, "Headphones", kHeadphonesAddress},
                          Case{false, "New device rule", std::nullopt}}) {
        SCOPED_TRACE(c.name);
        engine().rules = {};
        sim().bluetooth().unpairAll();
        if (c.paired) {
            pairBoth();
        }
        show();
        ASSERT_TRUE(view().click("Add Rule\u2026"));
        ASSERT_EQ(engine().rules().size(), 1u);
        const TriggerRule rule = engine().rules().front();
        EXPECT_EQ(rule.name, c.name);
        EXPECT_EQ(rule.btAddress, c.address);
        EXPECT_EQ(rule.btName, c.address ? std::optional<std::string>(c.name) : std::nullopt);
        EXPECT_EQ(rule.source, TriggerSource::bluetooth);
        EXPECT_TRUE(rule.enabled);
        EXPECT_EQ(rule.onAppear, TriggerAction::startSession);
        EXPECT_EQ(rule.onClear, TriggerAction::endSession);
        EXPECT_EQ(rule.durationSeconds, 0);
        EXPECT_FALSE(rule.btBattEnd || rule.btBattRecover || rule.matcher || rule.schedKind);
        EXPECT_EQ(page->expanded(), std::set<UUID>{rule.id});
        EXPECT_EQ(view().selection("Device"), c.address.value_or(""));
        EXPECT_TRUE(view().contains("Delete Rule"));
        EXPECT_EQ(view().contains("CHOOSE A DEVICE"), !c.paired)
            << "a rule without a device says so";
    }
}

TEST_F(BluetoothSettingsViewTest,
       PickingADeviceRenamesTheRuleAndAnUnknownAddressClearsOnlyItsName) {
    pairBoth();
    TriggerRule rule = btRule("My cans");
    rule.btName = "Headphones";
    const UUID id = open(rule);

    ASSERT_TRUE(view().pick("Device", kKeyboard)) << view().lastFailure();
    EXPECT_EQ(stored(id)->btAddress, kKeyboard);
    EXPECT_EQ(stored(id)->btName, "Keyboard");
    EXPECT_EQ(stored(id)->name, "Keyboard") << "a typed name is overwritten";

    page->setDevice(id, "00:11:22:33:44:55");
    EXPECT_EQ(stored(id)->btAddress, "00:11:22:33:44:55");
    EXPECT_EQ(stored(id)->btName, std::nullopt);
    EXPECT_EQ(stored(id)->name, "Keyboard");
    EXPECT_EQ(view().selection("Device"), "00:11:22:33:44:55") << "no entry carries that tag";

    ASSERT_TRUE(view().pick("Device", kKeyboard));
    ASSERT_EQ(stored(id)->btName, "Keyboard");
    page->setDevice(id, "f0:99:b6:00:00:01");
    EXPECT_EQ(stored(id)->btName, std::nullopt) << "addresses compare as exact text";
}

TEST_F(BluetoothSettingsViewTest, TheFloorSwitchStoresTenAndOffClearsTheRecoveryToo) {
    TriggerRule rule = btRule("Headphones");
    rule.btBattRecover = 30;  // imported without a floor
    const UUID id = open(rule);
    EXPECT_FALSE(view().contains(kRecoveryToggle)) << "no recovery row without a floor";

    ASSERT_TRUE(view().setToggle(kFloorToggle, true));
    EXPECT_EQ(stored(id)->btBattEnd, 10);
    EXPECT_EQ(stored(id)->btBattRecover, 30) << "turning the floor on leaves the recovery";
    EXPECT_EQ(view().toggleValue(kRecoveryToggle), true);

    ASSERT_TRUE(view().setToggle(kFloorToggle, false));
    EXPECT_EQ(stored(id)->btBattEnd, std::nullopt);
    EXPECT_EQ(stored(id)->btBattRecover, std::nullopt);

    ASSERT_TRUE(view().setToggle(kFloorToggle, true));
    EXPECT_EQ(stored(id)->btBattEnd, 10);
    EXPECT_EQ(stored(id)->btBattRecover, std::nullopt) << "only the floor comes back";
    EXPECT_EQ(view().toggleValue(kRecoveryToggle), false);
    EXPECT_TRUE(view().contains("10%"));
}

TEST_F(BluetoothSettingsViewTest, TheFloorIsKeptWithinItsRangeAndPushesTheRecoveryAboveIt) {
    struct Case {
        std::optional<std::int64_t> recovery;
        std::int64_t set;
        std::int64_t floor;
        std::optional<std::int64_t> recoveryAfter;
    };
    const Case cases[] = {
        {std::nullopt, 0, 1, std::nullopt},
        {std::nullopt, 1, 1, std::nullopt},
        {std::nullopt, 2, 2, std::nullopt},
        {std::nullopt, 96, 95, std::nullopt},
        {std::nullopt, 95, 95, std::nullopt},
        {30, 30, 30, 35},
        {30, 29, 29, 30},
        {30, 31, 31, 36},
        {25, 95, 95, 100},
        {25, 200, 95, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "recovery " << c.recovery.value_or(-1) << ", floor " << c.set);
        TriggerRule rule = btRule("Headphones");
        rule.btBattEnd = 20;
        rule.btBattRecover = c.recovery;
        engine().rules = {rule};
        page->setFloor(rule.id, c.set);
        EXPECT_EQ(stored(rule.id)->btBattEnd, c.floor);
        EXPECT_EQ(stored(rule.id)->btBattRecover, c.recoveryAfter);
    }
}

TEST_F(BluetoothSettingsViewTest, TheFloorStepperStopsAtItsEndsAndShowsPercentages) {
    TriggerRule rule = btRule("Headphones");
    rule.btBattEnd = 2;
    const UUID id = open(rule);
    step("2%", -1);
    EXPECT_EQ(stored(id)->btBattEnd, 1);
    int writes = 0;
    Subscription counting = engine().rules.subscribe([&](const auto&) { ++writes; });
    step("1%", -1);
    EXPECT_EQ(writes, 0) << "the stepper stops at 1";
    page->setFloor(id, 94);
    step("94%", +1);
    EXPECT_EQ(stored(id)->btBattEnd, 95);
    writes = 0;
    step("95%", +1);
    EXPECT_EQ(writes, 0) << "the stepper stops at 95";
}

TEST_F(BluetoothSettingsViewTest, TheRecoverySwitchAddsFifteenUpToAHundred) {
    struct Case {
        std::int64_t floor;
        std::int64_t recovery;
    };
    for (const Case& c : {Case{90, 100}, Case{10, 25}, Case{85, 100}, Case{84, 99}}) {
        SCOPED_TRACE(c.floor);
        TriggerRule rule = btRule("Headphones");
        rule.btBattEnd = c.floor;
        engine().rules = {rule};
        page->expanded = {rule.id};
        ASSERT_TRUE(view().setToggle(kRecoveryToggle, true));
        EXPECT_EQ(stored(rule.id)->btBattRecover, c.recovery);
        EXPECT_EQ(stored(rule.id)->btBattEnd, c.floor);
        ASSERT_TRUE(view().setToggle(kRecoveryToggle, false));
        EXPECT_EQ(stored(rule.id)->btBattRecover, std::nullopt);
        EXPECT_EQ(stored(rule.id)->btBattEnd, c.floor);
    }
}

TEST_F(BluetoothSettingsViewTest, TheRecoveryNeverGoesToOrBelowTheFloorNorAboveAHundred) {
    TriggerRule rule = btRule("Headphones");
    rule.btBattEnd = 40;
    rule.btBattRecover = 42;
    const UUID id = open(rule);
    step("42%", -1);
    EXPECT_EQ(stored(id)->btBattRecover, 41);
    int writes = 0;
    Subscription counting = engine().rules.subscribe([&](const auto&) { ++writes; });
    step("41%", -1);
    EXPECT_EQ(writes, 0) << "the stepper starts at floor + 1";

    for (const auto& [set, kept] : {std::pair<std::int64_t, std::int64_t>{40, 41},
                                    {10, 41},
                                    {41, 41},
                                    {77, 77},
                                    {100, 100},
                                    {101, 100}}) {
        SCOPED_TRACE(set);
        page->setRecovery(id, set);
        EXPECT_EQ(stored(id)->btBattRecover, kept);
    }
}

TEST_F(BluetoothSettingsViewTest, AnImportedFloorOfAHundredStillDrawsBothRows) {
    TriggerRule rule = btRule("Headphones");
    rule.btBattEnd = 100;
    rule.btBattRecover = 100;
    open(rule);
    Inspector shown = view();
    auto texts = shown.texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "100%"), 2);
    auto recovery = stepper("100%");
    ASSERT_TRUE(recovery);
    EXPECT_EQ(recovery->node->minimum, 100);
    EXPECT_EQ(recovery->node->maximum, 100);
    EXPECT_EQ(BluetoothSettingsView::recoveryMinimum(100), 100);
    EXPECT_EQ(BluetoothSettingsView::recoveryMinimum(99), 100);
    EXPECT_EQ(BluetoothSettingsView::recoveryMinimum(40), 41);
}

TEST_F(BluetoothSettingsViewTest, NowShowsTheSourcesLastReadingOnlyWhenItHasOne) {
    engine().start();
    sim().bluetooth().pair(BluetoothDevice{kHeadphonesAddress, "Headphones", true});
    sim().bluetooth().setBatteryLevel(kHeadphonesAddress, 42);
    TriggerRule floored = btRule("Headphones");
    floored.btBattEnd = 20;
    TriggerRule silent = btRule("Keyboard", kKeyboard);
    silent.btBattEnd = 30;
    TriggerRule nowhere = btRule("Nowhere");
    nowhere.btAddress.reset();
    nowhere.btBattEnd = 40;
    engine().rules = {floored, silent, nowhere};
    engine().syncSources();
    loop().drain();
    ASSERT_EQ(services().bluetoothSource().lastLevels().count(
                  BluetoothTriggerSource::deviceKey(kHeadphonesAddress)),
              1u);
    page->expanded = {floored.id, silent.id, nowhere.id};
    loop().advance(BluetoothSettingsView::kRefreshInterval);
    auto texts = view().texts();
    std::vector<std::string> nows;
    std::copy_if(texts.begin(), texts.end(), std::back_inserter(nows),
                 [](const std::string& t) { return t.starts_with("now"); });
    EXPECT_EQ(nows, std::vector<std::string>{"now 42%"});

    // A newer poll reaches the page with its next refresh.
    sim().bluetooth().setBatteryLevel(kHeadphonesAddress, 38);
    loop().advance(BluetoothTriggerSource::kBatteryPollSeconds);
    EXPECT_TRUE(view().contains("now 38%"));
}

TEST_F(BluetoothSettingsViewTest, PermissionRowAndNoteFollowEachAuthorisation) {
    struct Case {
        Auth auth;
        const char* status;
        bool granted;
    };
    const Case cases[] = {{Auth::notDetermined, "Not granted", false},
                          {Auth::restricted, "Restricted", false},
                          {Auth::denied, "Denied", false},
                          {Auth::allowedAlways, "Granted", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        sim().bluetooth().setAuthorization(c.auth);
        show();
        Inspector shown = view();
        ASSERT_TRUE(shown.find(c.status));
        EXPECT_EQ(shown.find(c.status)->node->foreground,
                  c.granted ? ui::ForegroundStyle(ui::Hierarchy::secondary)
                            : ui::ForegroundStyle(ui::Color::orange()));
        EXPECT_EQ(shown.contains(kDeniedNote), !c.granted);
        EXPECT_EQ(shown.control("Enable").has_value(), !c.granted);
        EXPECT_EQ(page->btGranted(), c.granted);
    }
}

TEST_F(BluetoothSettingsViewTest, EnableAsksWhenUndecidedAndOtherwiseOpensThePrivacySettings) {
    struct Case {
        Auth auth;
        int requests;
        std::vector<std::string> panels;
    };
    const Case cases[] = {{Auth::notDetermined, 1, {}},
                          {Auth::denied, 0, {"Privacy_Bluetooth"}},
                          {Auth::restricted, 0, {"Privacy_Bluetooth"}}};
    sim().workspace().setSettingsPanels({"Privacy_Bluetooth"});
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.auth));
        sim().bluetooth().setAuthorization(c.auth);
        show();
        const int requests = sim().bluetooth().authorizationRequests();
        const auto panels = sim().workspace().openedPanels().size();
        ASSERT_TRUE(view().click("Enable"));
        EXPECT_EQ(sim().bluetooth().authorizationRequests() - requests, c.requests);
        const auto& opened = sim().workspace().openedPanels();
        EXPECT_EQ(
            std::vector<std::string>(opened.begin() + static_cast<long>(panels), opened.end()),
            c.panels);
    }
}

TEST_F(BluetoothSettingsViewTest, AGrantedAnswerReachesThePageWithinARefresh) {
    sim().bluetooth().setAuthorization(Auth::notDetermined);
    sim().bluetooth().answerRequestsWith(Auth::allowedAlways);
    show();
    ASSERT_TRUE(view().contains(kDeniedNote));
    ASSERT_TRUE(view().click("Enable"));
    EXPECT_TRUE(view().contains(kDeniedNote)) << "the page learns it from its refresh";
    loop().advance(BluetoothSettingsView::kRefreshInterval);
    EXPECT_FALSE(view().contains(kDeniedNote));
    EXPECT_TRUE(view().contains("Granted"));
}

TEST_F(BluetoothSettingsViewTest, SourcesAreResyncedOnlyWhenThePermissionTurnsGranted) {
    // Without the engine's own subscription, only the page can start the source.
    TriggerRule rule = btRule("Headphones");
    sim().bluetooth().setAuthorization(Auth::denied);
    engine().add(rule);
    BluetoothTriggerSource& source = services().bluetoothSource();
    ASSERT_FALSE(source.isRunning());
    show();
    view();
    EXPECT_FALSE(page->btGranted());

    sim().bluetooth().setAuthorization(Auth::allowedAlways);
    loop().advance(BluetoothSettingsView::kRefreshInterval);
    EXPECT_TRUE(source.isRunning()) << "false \u2192 true re-syncs";

    source.stop();
    loop().advance(5 * BluetoothSettingsView::kRefreshInterval);
    EXPECT_FALSE(source.isRunning()) << "staying granted does not";

    show();
    loop().advance(BluetoothSettingsView::kRefreshInterval);
    EXPECT_FALSE(source.isRunning()) << "granted all along does not either";
}

TEST_F(BluetoothSettingsViewTest, TheRefreshRunsEveryTwoSecondsWhileShownAndNeverAfterLeaving) {
    view();
    const int appeared = sim().bluetooth().authorizationReads();
    EXPECT_GT(appeared, 0) << "read on appearing";
    loop().advance(1.9);
    EXPECT_EQ(sim().bluetooth().authorizationReads(), appeared);
    loop().advance(0.1);
    const int first = sim().bluetooth().authorizationReads();
    EXPECT_GT(first, appeared);
    loop().advance(2.0);
    EXPECT_GT(sim().bluetooth().authorizationReads(), first);

    pageHost->setShown(false);
    const int left = sim().bluetooth().authorizationReads();
    sim().bluetooth().setAuthorization(Auth::denied);
    loop().advance(60);
    EXPECT_EQ(sim().bluetooth().authorizationReads(), left);
    EXPECT_TRUE(page->btGranted()) << "a hidden page reads nothing";

    pageHost->setShown(true);
    view();
    EXPECT_FALSE(page->btGranted()) << "appearing again reads at once";
    pageHost.reset();
    const int gone = sim().bluetooth().authorizationReads();
    loop().advance(60);
    EXPECT_EQ(sim().bluetooth().authorizationReads(), gone);
}

TEST_F(BluetoothSettingsViewTest, AnIdlePageIsNotDrawnAgain) {
    pairBoth();
    TriggerRule rule = btRule("Headphones");
    rule.btBattEnd = 20;
    open(rule);
    loop().advance(BluetoothSettingsView::kRefreshInterval);
    // The host draws again by itself after any change it is told of.
    const auto evaluations = pageHost->evaluationCount();
    loop().advance(60);
    EXPECT_EQ(pageHost->evaluationCount(), evaluations);
    sim().bluetooth().setAuthorization(Auth::denied);
    loop().advance(BluetoothSettingsView::kRefreshInterval);
    EXPECT_EQ(pageHost->evaluationCount(), evaluations + 1) << "a change is drawn once";
}

TEST_F(BluetoothSettingsViewTest, OnlyBluetoothRulesAreListedInTheEnginesOrder) {
    TriggerRule network;
    network.name = "Office LAN";
    network.source = TriggerSource::network;
    TriggerRule schedule;
    schedule.name = "Nights";
    schedule.source = TriggerSource::schedule;
    TriggerRule disabled = btRule("Zeta");
    disabled.enabled = false;
    TriggerRule unavailable = btRule("Alpha");
    unavailable.unavailableHere = true;
    engine().rules = {disabled, network, unavailable, schedule, btRule("Mid")};
    EXPECT_EQ(listedNames({"Zeta", "Alpha", "Mid", "Office LAN", "Nights"}),
              (std::vector<std::string>{"Zeta", "Alpha", "Mid"}));
    EXPECT_TRUE(view().contains("UNAVAILABLE ON THIS COMPUTER"));
    EXPECT_EQ(page->bluetoothRules().size(), 3u);
}

TEST_F(BluetoothSettingsViewTest, TheEditorShowsItsRowsInOrder) {
    pairBoth();
    TriggerRule rule = btRule("Headphones");
    rule.btBattEnd = 20;
    rule.btBattRecover = 35;
    rule.onClear = TriggerAction::startSession;
    open(rule);
    const auto texts = ruleSectionTexts();
    const std::vector<std::string> order{"Device",        "On connect", "Session duration",
                                         "On disconnect", kFloorToggle, "20%",
                                         kRecoveryToggle, "35%",        "Only while on AC power",
                                         "Delete Rule"};
    auto at = texts.begin();
    for (const auto& text : order) {
        at = std::find(at, texts.end(), text);
        EXPECT_NE(at, texts.end()) << text << " missing or out of order";
    }
    const auto conflict = std::find_if(texts.begin(), texts.end(), [](const std::string& t) {
        return t.find("On disconnect \u2192 Start session") != std::string::npos;
    });
    ASSERT_NE(conflict, texts.end()) << "the rule's conflict note";
    EXPECT_LT(std::find(texts.begin(), texts.end(), "35%"), conflict);
    EXPECT_LT(conflict, std::find(texts.begin(), texts.end(), "Only while on AC power"));
}

TEST_F(BluetoothSettingsViewTest, ARuleIsCreatedEditedTestedAndDeletedThroughTheControls) {
    engine().start();
    pairBoth();
    ASSERT_TRUE(view().click("Add Rule\u2026"));
    ASSERT_EQ(engine().rules().size(), 1u);
    const UUID id = engine().rules().front().id;
    ASSERT_TRUE(view().pick("Device", kKeyboard));
    ASSERT_TRUE(view().setToggle("Only while on AC power", true));
    ASSERT_TRUE(view().setToggle(kFloorToggle, true));
    EXPECT_EQ(stored(id)->name, "Keyboard");
    EXPECT_TRUE(stored(id)->acOnly);
    EXPECT_EQ(stored(id)->btBattEnd, 10);

    ASSERT_TRUE(view().click("Test"));
    loop().drain();
    EXPECT_TRUE(controller().isActive());
    EXPECT_FALSE(held().empty()) << "the simulated machine holds the session";
    const auto& entries = services().activityLog().entries();
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const ActivityEntry& e) {
        return e.kind == ActivityEntry::Kind::simulated && e.title == "Test \u2014 Keyboard";
    }));

    ASSERT_TRUE(view().click("Delete Rule"));
    EXPECT_TRUE(engine().rules().empty());
    EXPECT_FALSE(view().contains("Keyboard"));
    EXPECT_TRUE(view().control("Add Rule\u2026"));
}

}  // namespace
}  // namespace orvel
