#include "triggers/BluetoothTriggerSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/OrvelController.h"
#include "support/SessionTest.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "triggers/TriggerTestSupport.h"

namespace orvel {
namespace {

using test::activity;
using test::makeRule;

constexpr const char* kMouse = "AA:BB:CC:DD:EE:01";
constexpr const char* kHeadphones = "AA:BB:CC:DD:EE:02";
constexpr const char* kSpeaker = "AA:BB:CC:DD:EE:03";
const std::string kEnded = "Ended session \u2014 Battery/Power safety trigger";

class BluetoothTriggerSourceTest : public test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        sim().bluetooth().pair({kMouse, "Mouse", false});
        sim().bluetooth().pair({kHeadphones, "Headphones", false});
        sim().bluetooth().pair({kSpeaker, "Speaker", false});
        engine().start();
        loop().drain();
        seen_ = activity(services().activityLog()).size();
    }

    TriggerEngine& engine() { return services().triggerEngine(); }
    BluetoothTriggerSource& source() { return services().bluetoothSource(); }
    PowerTriggerCenter& center() { return services().powerCenter(); }
    SimBluetooth& bt() { return sim().bluetooth(); }

    // A rule that starts an indefinite session while the device is connected.
    TriggerRule deviceRule(const std::string& address, const std::string& name) {
        TriggerRule rule = makeRule(TriggerSource::bluetooth, name);
        rule.btAddress = address;
        return rule;
    }
    // A rule that only watches the device's battery.
    TriggerRule floorRule(const std::string& address, std::int64_t floor,
                          std::optional<std::int64_t> recovery, const std::string& name = "Mouse") {
        TriggerRule rule = deviceRule(address, name);
        rule.onAppear = TriggerAction::nothing;
        rule.onClear = TriggerAction::nothing;
        rule.btBattEnd = floor;
        rule.btBattRecover = recovery;
        return rule;
    }
    TriggerRule added(TriggerRule rule) {
        engine().add(rule);
        loop().drain();
        return rule;
    }
    // Entries written since the last call, as "kind|title|detail".
    std::vector<std::string> newEntries() {
        loop().drain();
        auto all = activity(services().activityLog());
        std::vector<std::string> fresh(all.begin() + static_cast<std::ptrdiff_t>(seen_), all.end());
        seen_ = all.size();
        return fresh;
    }
    void poll() {
        loop().advance(BluetoothTriggerSource::kBatteryPollSeconds);
        loop().drain();
    }

  private:
    std::size_t seen_ = 0;
};

TEST_F(BluetoothTriggerSourceTest, PairedDevicesSortByNameAsPlainText) {
    bt().unpairAll();
    bt().pair({"00-00-00-00-00-01", "mouse", false});
    bt().pair({"00-00-00-00-00-02", std::nullopt, false});
    bt().pair({"", "No address", false});
    bt().pair({"00-00-00-00-00-03", "Keyboard", true});
    bt().pair({"00-00-00-00-00-04", "Keyboard", false});
    using P = BluetoothTriggerSource::PairedDevice;
    EXPECT_EQ(source().pairedDevices(), (std::vector<P>{{"00-00-00-00-00-02", "00-00-00-00-00-02"},
                                                        {"00-00-00-00-00-03", "Keyboard"},
                                                        {"00-00-00-00-00-04", "Keyboard"},
                                                        {"00-00-00-00-00-01", "mouse"}}));
}

TEST_F(BluetoothTriggerSourceTest, ConnectedNowComparesTheAddressExactly) {
    bt().connect(kHeadphones);
    EXPECT_TRUE(source().isConnected(std::string(kHeadphones)));
    EXPECT_FALSE(source().isConnected(std::string("aa:bb:cc:dd:ee:02")));
    EXPECT_FALSE(source().isConnected(std::string("AA-BB-CC-DD-EE-02")));
    EXPECT_FALSE(source().isConnected(std::nullopt));
    bt().disconnect(kHeadphones);
    EXPECT_FALSE(source().isConnected(std::string(kHeadphones)));
}

TEST_F(BluetoothTriggerSourceTest, AConnectStartsTheRulesSessionAndADisconnectEndsIt) {
    added(deviceRule(kHeadphones, "Desk"));
    bt().connect(kHeadphones);
    EXPECT_FALSE(controller().isActive()) << "queued to the loop, not run inside the callback";
    loop().drain();
    EXPECT_TRUE(controller().isActive());
    EXPECT_EQ(controller().startedByRuleName(), "Desk");
    bt().disconnect(kHeadphones);
    loop().drain();
    EXPECT_FALSE(controller().isActive());
    EXPECT_EQ(newEntries().size(), 2u);
    EXPECT_TRUE(bt().liveDisconnectRegistrations().empty()) << "the disconnect ends its watch";
}

TEST_F(BluetoothTriggerSourceTest, AnUnnamedDeviceConnectingRefreshesAvailabilityButSendsNoEvent) {
    added(deviceRule(kHeadphones, "Desk"));
    TriggerRule later = deviceRule("AA:BB:CC:DD:EE:09", "Later");
    later.unavailableHere = true;
    engine().add(later);
    loop().drain();
    bt().pair({"AA:BB:CC:DD:EE:09", "Later", false});  // pairing itself tells nobody

    bt().connect(kSpeaker);
    loop().drain();
    EXPECT_FALSE(controller().isActive());
    EXPECT_TRUE(newEntries().empty());
    EXPECT_EQ(bt().liveDisconnectRegistrations(), std::vector<std::string>{kSpeaker});
    const auto& rules = engine().rules();
    const auto found = std::find_if(rules.begin(), rules.end(),
                                    [](const TriggerRule& r) { return r.name == "Later"; });
    ASSERT_NE(found, rules.end());
    EXPECT_FALSE(found->unavailableHere);
}

TEST_F(BluetoothTriggerSourceTest, ADeviceConnectedAtStartSendsNoAppearButItsDisconnectIsSeen) {
    bt().connect(kHeadphones);  // before any rule: nobody listens
    TriggerRule rule = deviceRule(kHeadphones, "Desk");
    rule.onAppear = TriggerAction::nothing;
    rule.onClear = TriggerAction::startSession;
    added(rule);
    EXPECT_FALSE(controller().isActive());
    EXPECT_EQ(bt().liveDisconnectRegistrations(), std::vector<std::string>{kHeadphones});
    bt().disconnect(kHeadphones);
    loop().drain();
    EXPECT_TRUE(controller().isActive()) << "the clear edge reached the rule";
}

TEST_F(BluetoothTriggerSourceTest, EventsMatchTheExactAddressTextButBatteriesTheDeviceKey) {
    const char* variants[] = {"aa:bb:cc:dd:ee:02", "AA-BB-CC-DD-EE-02", "aa-bb-cc-dd-ee-02"};
    bt().setBatteryLevel(kHeadphones, 55);
    for (const char* address : variants) {
        TriggerRule rule = deviceRule(address, address);
        rule.btBattEnd = 20;
        added(rule);
    }
    bt().connect(kHeadphones);
    loop().drain();
    EXPECT_FALSE(controller().isActive()) << "no rule names the address as the stack writes it";
    EXPECT_EQ(source().lastLevels(),
              (std::map<std::string, std::int64_t>{{"aa-bb-cc-dd-ee-02", 55}}));
    EXPECT_EQ(BluetoothTriggerSource::deviceKey(kHeadphones), "aa-bb-cc-dd-ee-02");
}

TEST_F(BluetoothTriggerSourceTest, RegistrationsAreMadeOnceKeptAcrossListsAndEndedAtStop) {
    const TriggerRule desk = added(deviceRule(kHeadphones, "Desk"));
    EXPECT_EQ(bt().liveConnectRegistrations(), 1u);
    bt().connect(kHeadphones);
    bt().connect(kSpeaker);
    loop().drain();
    added(deviceRule(kMouse, "Mouse"));
    EXPECT_EQ(bt().liveConnectRegistrations(), 1u) << "a new list does not register again";
    engine().deleteRule(desk.id);
    loop().drain();
    auto watched = bt().liveDisconnectRegistrations();
    std::sort(watched.begin(), watched.end());
    EXPECT_EQ(watched, (std::vector<std::string>{kHeadphones, kSpeaker}))
        << "never pruned by a new list";

    engine().setMasterEnabled(false);
    engine().syncSources();
    EXPECT_FALSE(source().isRunning());
    EXPECT_EQ(bt().liveConnectRegistrations(), 0u);
    EXPECT_TRUE(bt().liveDisconnectRegistrations().empty());
}

TEST_F(BluetoothTriggerSourceTest, TheSourceFollowsBluetoothBecomingAllowedOrNot) {
    added(deviceRule(kHeadphones, "Desk"));
    ASSERT_TRUE(source().isRunning());
    bt().setAuthorization(BluetoothAuthorization::restricted);  // the adapter went away
    EXPECT_FALSE(source().isRunning());
    EXPECT_EQ(bt().liveConnectRegistrations(), 0u);
    bt().setAuthorization(BluetoothAuthorization::allowedAlways);
    EXPECT_TRUE(source().isRunning());
    bt().connect(kHeadphones);
    loop().drain();
    EXPECT_TRUE(controller().isActive());
}

TEST_F(BluetoothTriggerSourceTest, AFailedRegistrationKeepsNothingAndSaysSo) {
    bt().setFailRegistrations(true);
    added(deviceRule(kHeadphones, "Desk"));
    EXPECT_TRUE(source().isRunning());
    EXPECT_EQ(bt().liveConnectRegistrations(), 0u);
    EXPECT_EQ(test::logLines(sim(), "bluetooth"),
              std::vector<std::string>{
                  "error: Could not register for Bluetooth connections; rules will not see them."});
    bt().setFailRegistrations(false);
    bt().connect(kHeadphones);
    loop().drain();
    EXPECT_FALSE(controller().isActive()) << "nothing listens";
}

TEST_F(BluetoothTriggerSourceTest, TheBatteryPollRunsEveryMinuteAndChecksAtOnceOnlyWhenCreated) {
    added(deviceRule(kHeadphones, "Desk"));
    EXPECT_FALSE(source().isPolling()) << "no floor, no poll";
    EXPECT_EQ(bt().batteryReads(), 0);
    added(floorRule(kMouse, 20, 30));
    EXPECT_EQ(bt().batteryReads(), 1) << "checked when the timer is created";
    added(floorRule(kSpeaker, 20, 30, "Speaker"));
    EXPECT_EQ(bt().batteryReads(), 1) << "a running timer is left alone";
    loop().advance(59);
    EXPECT_EQ(bt().batteryReads(), 1);
    loop().advance(1);
    EXPECT_EQ(bt().batteryReads(), 2);
    for (const auto& rule : engine().rules()) {
        if (rule.btBattEnd) {
            engine().deleteRule(rule.id);
        }
    }
    loop().drain();
    EXPECT_FALSE(source().isPolling());
    loop().advance(600);
    EXPECT_EQ(bt().batteryReads(), 2);
}

TEST_F(BluetoothTriggerSourceTest, DeviceFloorsEndHoldAndResume) {
    struct Case {
        const char* name;
        std::int64_t floor;
        std::optional<std::int64_t> recovery;
        bool session;
        std::vector<std::optional<std::int64_t>> levels;  // one per poll; none: no level
        std::vector<std::string> entries;                 // what the polls log
        bool activeAtEnd;
    };
    const std::string trip20 = "Mouse battery 20% \u2014 below its 20% floor";
    const std::string trip25 = "Mouse battery 25% \u2014 below its 30% floor";
    const std::string resumed =
        "started|Orvel re-enabled \u2014 battery recovered|Resumed the battery-ended session "
        "\u2014 Indefinitely";
    const Case cases[] = {
        {"the floor fires at its level and recovery at its own",
         20,
         30,
         true,
         {21, 20, 29, 30},
         {"ended|" + trip20 + "|" + kEnded, "info|Mouse battery recovered \u2014 30%|", resumed},
         true},
        {"a missing level skips the poll and keeps the tripped state",
         20,
         30,
         true,
         {20, std::nullopt, 25, 31},
         {"ended|" + trip20 + "|" + kEnded, "info|Mouse battery recovered \u2014 31%|", resumed},
         true},
        {"a floor without recovery ends once and never holds",
         20,
         std::nullopt,
         true,
         {20, 10, 90, 5},
         {"ended|" + trip20 + "|" + kEnded},
         false},
        {"a crossing without a session holds but ends nothing",
         20,
         30,
         false,
         {20, 30},
         {"info|Mouse battery recovered \u2014 30%|"},
         false},
        {"a recovery level under the floor waits for floor + 1",
         30,
         20,
         true,
         {25, 25, 30, 31},
         {"ended|" + trip25 + "|" + kEnded, "info|Mouse battery recovered \u2014 31%|", resumed},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& rule : engine().rules()) {
            engine().deleteRule(rule.id);
        }
        controller().stop(true);
        center().pending.reset();
        bt().setBatteryLevel(kMouse, std::nullopt);
        loop().drain();
        newEntries();

        if (c.session) {
            controller().startForSeconds(std::nullopt);
        }
        added(floorRule(kMouse, c.floor, c.recovery));  // the first check runs at once
        newEntries();
        for (const auto& level : c.levels) {
            bt().setBatteryLevel(kMouse, level);
            poll();
            if (level && *level <= c.floor && c.recovery) {
                EXPECT_EQ(center().holds().size(), 1u) << *level;
            }
        }
        loop().drain();
        auto entries = newEntries();
        std::erase_if(entries, [](const std::string& e) { return e.starts_with("ended|Manual"); });
        EXPECT_EQ(entries, c.entries);
        EXPECT_EQ(controller().isActive(), c.activeAtEnd);
        EXPECT_TRUE(center().holds().empty());
    }
}

// On a machine that announces its power changes nothing else refreshes the notice: each hold the
// poll adds or releases must show at once.
TEST_F(BluetoothTriggerSourceTest, TheNoticeFollowsEachDeviceHoldAtOnce) {
    prefs().lowBattEnd = true;
    prefs().battRecover = true;
    center().start();
    controller().startForSeconds(std::nullopt);
    added(floorRule(kHeadphones, 20, 30, "Headphones"));
    added(floorRule(kMouse, 20, 30));
    const std::string headphones = "Headphones battery 20% \u2014 below its 20% floor";
    struct Step {
        const char* name;
        std::function<void()> act;
        std::string notice;  // its text and the sub-tab it opens; empty: none
    };
    const Step steps[] = {
        {"a device reaches its floor", [&] { bt().setBatteryLevel(kHeadphones, 20); },
         "Waiting to re-enable: " + headphones + " @1"},
        {"a second one does", [&] { bt().setBatteryLevel(kMouse, 15); },
         "Waiting to re-enable: 2 device batteries @1"},
        {"one recovers", [&] { bt().setBatteryLevel(kMouse, 30); },
         "Waiting to re-enable: " + headphones + " @1"},
        {"the other recovers and the session resumes",
         [&] { bt().setBatteryLevel(kHeadphones, 30); }, ""},
        {"the computer's own floor",
         [&] {
             sim().powerSources().setBatteryPercent(15);
             sim().powerSources().setOnAC(false);
         },
         "Waiting: battery above 50% \u2014 now 15% @3"},
        {"a device joins it", [&] { bt().setBatteryLevel(kHeadphones, 20); },
         "Waiting: battery above 50% \u2014 now 15% (+1 more) @3"},
        {"the device recovers first", [&] { bt().setBatteryLevel(kHeadphones, 30); },
         "Waiting: battery above 50% \u2014 now 15% @3"},
    };
    for (const auto& step : steps) {
        step.act();
        poll();
        const auto& notice = center().notice();
        EXPECT_EQ(notice ? notice->text + " @" + std::to_string(notice->subTab) : "", step.notice)
            << step.name;
    }
}

TEST_F(BluetoothTriggerSourceTest, TwoRulesForOneDeviceShareOneTrippedFlag) {
    controller().startForSeconds(std::nullopt);
    added(floorRule(kMouse, 20, 40, "Work mouse"));
    TriggerRule second = floorRule("aa:bb:cc:dd:ee:01", 30, 35, "Mouse");
    second.btName = "Travel mouse";
    added(second);
    newEntries();
    bt().setBatteryLevel(kMouse, 30);
    poll();
    EXPECT_EQ(
        center().holds(),
        (std::vector<PowerTriggerCenter::Hold>{
            {"bt-aa-bb-cc-dd-ee-01", "Travel mouse battery 30% \u2014 below its 30% floor"}}));
    bt().setBatteryLevel(kMouse, 36);
    poll();
    EXPECT_TRUE(center().holds().empty()) << "the second rule's own recovery level frees it";
    EXPECT_EQ(newEntries().back(),
              "started|Orvel re-enabled \u2014 battery recovered|Resumed the battery-ended "
              "session \u2014 Indefinitely");
}

TEST_F(BluetoothTriggerSourceTest, AHoldIsReleasedOnceNoRuleWatchesItsDevice) {
    struct Case {
        const char* name;
        bool stopSource;  // else a new list drops the rule
    };
    for (const Case c : {Case{"the source stops", true}, Case{"the list drops the rule", false}}) {
        SCOPED_TRACE(c.name);
        for (const auto& rule : engine().rules()) {
            engine().deleteRule(rule.id);
        }
        engine().setMasterEnabled(true);
        loop().drain();
        controller().startForSeconds(std::nullopt);
        added(deviceRule(kHeadphones, "Desk"));
        const TriggerRule floor = added(floorRule(kMouse, 20, 30));
        bt().setBatteryLevel(kMouse, 10);
        poll();
        ASSERT_FALSE(controller().isActive());
        ASSERT_EQ(center().holds().size(), 1u);
        newEntries();

        if (c.stopSource) {
            engine().setMasterEnabled(false);
            engine().syncSources();
        } else {
            engine().deleteRule(floor.id);
        }
        loop().drain();
        EXPECT_TRUE(center().holds().empty());
        EXPECT_TRUE(controller().isActive()) << "nothing else held the session back";
        const auto entries = newEntries();
        EXPECT_NE(std::find(entries.begin(), entries.end(),
                            "info|Mouse battery floor no longer watched|"),
                  entries.end());
        bt().setBatteryLevel(kMouse, std::nullopt);
    }
}

TEST_F(BluetoothTriggerSourceTest, ARecoveryLevelNotAboveItsFloorIsNamedInTheReport) {
    added(floorRule(kMouse, 30, 20));
    added(floorRule(kSpeaker, 30, 40, "Speaker"));
    const std::string section = engine().diagnosticSection(false);
    const std::string note = "recovery 20% is not above the floor: 31% used";
    const auto first = section.find(note);
    ASSERT_NE(first, std::string::npos) << section;
    EXPECT_EQ(section.find(note, first + 1), std::string::npos) << "said once";
    EXPECT_EQ(engine().rules().front().btBattRecover, 20) << "the stored value stays";
    TriggerRule capped = floorRule(kMouse, 100, 100);
    EXPECT_EQ(BluetoothTriggerSource::recoveryLevel(capped), 100);
}

}  // namespace
}  // namespace orvel
