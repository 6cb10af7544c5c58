#include "automations/TriggersSettingsView.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "foundation/DateFormatting.h"
#include "support/UiTest.h"
#include "triggers/ScheduleTriggerSource.h"
#include "triggers/TriggerEngine.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

namespace orvel {
namespace {

using S = TriggerSource;
using ui::Inspector;

constexpr const char* kHeadphonesRule = "a4-83-e7-11-22-33";

class TriggersSettingsViewTest : public test::UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        setenv("TZ", "America/New_York", 1);
        tzset();
        sim().bluetooth().pair(BluetoothDevice{kHeadphonesRule, "Headphones", false});
        sim().network().setLocationAuthorization(LocationAuthorization::authorizedAlways);
        page = std::make_shared<TriggersSettingsView>(engine(), services().activityLog(),
                                                      services().preferences());
        pageHost = std::make_unique<ui::ViewHost>(page);
        pageHost->setShown(true);
    }
    void TearDown() override {
        pageHost.reset();
        page.reset();
        UiTest::TearDown();
        setenv("TZ", "UTC", 1);
        tzset();
    }
    TriggerEngine& engine() { return services().triggerEngine(); }
    Inspector view() {
        loop().drain();
        pageHost->evaluate();
        return Inspector(*pageHost);
    }
    // The texts of the priority rows, from the first number to the footer.
    std::vector<std::string> priorityTexts() {
        const auto all = view().texts();
        auto first = std::find(all.begin(), all.end(), "1");
        auto last = std::find_if(all.begin(), all.end(), [](const std::string& t) {
            return t.starts_with("While a higher-priority");
        });
        return {first, last};
    }
    static TriggerRule rule(S source, const std::string& name) {
        TriggerRule r;
        r.source = source;
        r.name = name;
        return r;
    }
    void moveTo(const char* localTime) {
        std::tm parts{};
        ASSERT_NE(strptime(localTime, "%Y-%m-%d %H:%M:%S", &parts), nullptr);
        parts.tm_isdst = -1;
        const Date at = Date::fromUnix(static_cast<double>(std::mktime(&parts)));
        loop().sleepMachine(at.timeIntervalSince(loop().now()));
    }

    std::shared_ptr<TriggersSettingsView> page;
    std::unique_ptr<ui::ViewHost> pageHost;
};

TEST_F(TriggersSettingsViewTest, DefaultOrderIsNumberedWithTheEndChevronsDisabled) {
    EXPECT_EQ(priorityTexts(),
              (std::vector<std::string>{
                  "1", "Schedule", "0 rules \u00B7 quiet", "2", "Bluetooth", "0 rules \u00B7 quiet",
                  "3", "WiFi (SSID)", "0 rules \u00B7 quiet", "4", "Network",
                  "0 rules \u00B7 quiet", "5", "Apps", "0 rules \u00B7 quiet"}));
    Inspector v = view();
    for (const char* name : {"Schedule", "Bluetooth", "WiFi (SSID)", "Network", "Apps"}) {
        SCOPED_TRACE(name);
        const bool first = std::string(name) == "Schedule", last = std::string(name) == "Apps";
        EXPECT_EQ(v.isEnabled(*v.control(std::string("Move ") + name + " up")), !first);
        EXPECT_EQ(v.isEnabled(*v.control(std::string("Move ") + name + " down")), !last);
    }
    EXPECT_FALSE(v.click("Move Schedule up"));
    EXPECT_FALSE(v.click("Move Apps down"));
    EXPECT_FALSE(sim().userDefaults().persistentValue(TriggerEngine::kPriorityKey))
        << "nothing was saved";
}

TEST_F(TriggersSettingsViewTest, MovingTheSecondRowDownSwapsRenumbersAndIsKept) {
    ASSERT_TRUE(view().click("Move Bluetooth down"));
    const auto texts = priorityTexts();
    ASSERT_GE(texts.size(), 9u);
    EXPECT_EQ(texts[3], "2");
    EXPECT_EQ(texts[4], "WiFi (SSID)");
    EXPECT_EQ(texts[6], "3");
    EXPECT_EQ(texts[7], "Bluetooth");
    pageHost.reset();
    page.reset();
    releaseServices();
    EXPECT_EQ(engine().priority(),
              (std::vector<S>{S::schedule, S::wifiSSID, S::bluetooth, S::network, S::app}));
}

TEST_F(TriggersSettingsViewTest, CountsEveryRuleOfItsOwnFamilyOnly) {
    TriggerRule off = rule(S::app, "Off");
    off.enabled = false;
    TriggerRule elsewhere = rule(S::app, "Elsewhere");
    elsewhere.unavailableHere = true;
    engine().rules = {rule(S::wifiSSID, "Cafe"),
                      off,
                      elsewhere,
                      rule(S::app, "Editor"),
                      rule(S::network, "VPN"),
                      rule(S::network, "Lab"),
                      rule(S::network, "Dock")};
    const std::pair<S, std::int64_t> counts[] = {
        {S::schedule, 0}, {S::bluetooth, 0}, {S::wifiSSID, 1}, {S::network, 3}, {S::app, 3}};
    for (const auto& [source, n] : counts) {
        EXPECT_EQ(page->ruleCount(source), n) << rawValue(source);
    }
    const auto texts = priorityTexts();
    EXPECT_EQ(texts[8], "1 rule \u00B7 quiet");
    EXPECT_EQ(texts[11], "3 rules \u00B7 quiet");
}

TEST_F(TriggersSettingsViewTest, HoldingMarkerNamesTheFirstStartingRuleWhoseConditionHolds) {
    sim().bluetooth().setConnectedSilently(kHeadphonesRule, true);
    sim().network().setSSID("Office");
    sim().network().setRouter("10.0.0.1");
    (void)sim().workspace().launch("org.example.Editor", "Editor");
    auto bt = [](const std::string& name, bool enabled, TriggerAction appear) {
        TriggerRule r = rule(S::bluetooth, name);
        r.btAddress = kHeadphonesRule;
        r.enabled = enabled;
        r.onAppear = appear;
        return r;
    };
    TriggerRule wifi = rule(S::wifiSSID, "Office WiFi");
    wifi.matcher = NetworkMatcher::ssid("Office");
    TriggerRule otherGateway = rule(S::network, "Home router");
    otherGateway.matcher = NetworkMatcher::gateway("192.168.1.1");
    TriggerRule gateway = rule(S::network, "Office router");
    gateway.matcher = NetworkMatcher::gateway("10.0.0.1");
    TriggerRule window = rule(S::schedule, "Work hours");
    TriggerRule app = rule(S::app, "Editor open");
    app.appBundleID = "org.example.Editor";
    engine().rules = {bt("Off", false, TriggerAction::startSession),
                      bt("Ends", true, TriggerAction::endSession),
                      bt("Nothing", true, TriggerAction::nothing),
                      bt("Headphones", true, TriggerAction::startSession),
                      bt("Second", true, TriggerAction::startSession),
                      wifi,
                      otherGateway,
                      gateway,
                      window,
                      app};
    services().scheduleSource().activeNow.insert(window.id);
    EXPECT_FALSE(page->holdingRule(S::schedule)) << "an open window holds only a rule's session";
    services().controller().startFromTrigger("Headphones", engine().rules()[3].id, 0);
    const std::pair<S, const char*> holding[] = {{S::bluetooth, "Headphones"},
                                                 {S::wifiSSID, "Office WiFi"},
                                                 {S::network, "Office router"},
                                                 {S::schedule, "Work hours"},
                                                 {S::app, "Editor open"}};
    Inspector v = view();
    for (const auto& [source, name] : holding) {
        EXPECT_EQ(page->holdingRule(source)->name, name);
        EXPECT_TRUE(v.contains(std::string("\u25CF holding \u2014 ") + name)) << name;
    }
    sim().bluetooth().setConnectedSilently(kHeadphonesRule, false);
    EXPECT_FALSE(page->holdingRule(S::bluetooth));
}

TEST_F(TriggersSettingsViewTest, SafetySummaryListsTheSwitchesThatAreOn) {
    struct Case {
        bool floor, onBattery, lpm, ups;
        const char* text;
    };
    const Case cases[] = {
        {false, false, false, false, "nothing enabled \u00B7 quiet"},
        {false, false, false, true, "UPS"},
        {true, false, true, false, "battery floor \u00B7 Power Saver"},
        {false, false, true, true, "Power Saver \u00B7 UPS"},
        {true, true, true, true,
         "battery floor \u00B7 on-battery off \u00B7 Power Saver \u00B7 UPS"},
    };
    Preferences& prefs = services().preferences();
    for (const Case& c : cases) {
        prefs.lowBattEnd = c.floor;
        prefs.deactivateOnBattery = c.onBattery;
        prefs.lpmEnd = c.lpm;
        prefs.upsReact = c.ups;
        EXPECT_EQ(page->safetySummary(), c.text);
        EXPECT_TRUE(view().contains(c.text)) << c.text;
    }
    EXPECT_TRUE(view().contains("ALWAYS FIRST"));
}

TEST_F(TriggersSettingsViewTest, UntilTomorrowEndsAtEightOnTheNextCalendarDay) {
    struct Case {
        const char* localTime;
        double seconds;
    };
    const Case cases[] = {
        // The clocks change in the night: eight hours of elapsed time after midnight.
        {"2026-03-07 22:00:00", 10 * 3600.0},
        {"2026-03-08 00:10:00", 31 * 3600.0 + 50 * 60 - 3600},
        {"2026-06-10 23:30:00", 8.5 * 3600},
        {"2026-06-10 23:59:00", 8 * 3600.0 + 60},
        {"2026-06-11 00:10:00", 31 * 3600.0 + 50 * 60},
        {"2026-06-11 00:30:00", 31.5 * 3600},
        {"2026-10-31 22:00:00", 10 * 3600.0},
    };  // in the order of time: the virtual clock only goes forward
    for (const Case& c : cases) {
        SCOPED_TRACE(c.localTime);
        moveTo(c.localTime);
        EXPECT_NEAR(TriggersSettingsView::secondsUntilTomorrow(), c.seconds, 1e-6);
        EXPECT_GE(TriggersSettingsView::secondsUntilTomorrow(), 60);
    }
}

TEST_F(TriggersSettingsViewTest, EachPauseShowsResumeAndATimedPauseEndsByItself) {
    moveTo("2026-06-10 23:00:00");
    struct Case {
        const char* button;
        std::optional<double> seconds;
    };
    const Case cases[] = {{"1 hour", 3600}, {"Until tomorrow", 9 * 3600}, {"Until re-enabled", {}}};
    for (bool master : {true, false}) {
        engine().setMasterEnabled(master);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.button) + (master ? "" : ", master off"));
            ASSERT_TRUE(view().click(c.button)) << view().lastFailure();
            EXPECT_TRUE(engine().isPaused());
            ASSERT_TRUE(engine().pausedUntil());
            if (c.seconds) {
                EXPECT_NEAR(engine().pausedUntil()->timeIntervalSince(loop().now()), *c.seconds, 1);
            }
            EXPECT_TRUE(view().contains("Paused"));
            EXPECT_FALSE(view().contains("1 hour"));
            ASSERT_TRUE(view().click("Resume"));
            EXPECT_FALSE(engine().isPaused());
            EXPECT_TRUE(view().contains("Pause all triggers"));
        }
    }
    ASSERT_TRUE(view().click("1 hour"));
    loop().advance(3601);
    EXPECT_TRUE(view().contains("1 hour")) << "the pause ran out";
}

TEST_F(TriggersSettingsViewTest, ShowsTheTwelveNewestEntriesWithTheirDots) {
    EXPECT_TRUE(view().contains("No trigger activity yet."));
    std::vector<ActivityEntry> entries;
    for (int i = 0; i < 50; ++i) {
        entries.push_back(ActivityEntry::make(ActivityEntry::Kind::started,
                                              "Entry " + std::to_string(i), i == 0 ? "" : "why"));
    }
    services().activityLog().entries = entries;
    const auto texts = view().texts();
    EXPECT_FALSE(view().contains("No trigger activity yet."));
    EXPECT_TRUE(view().contains("Entry 11"));
    EXPECT_FALSE(view().contains("Entry 12"));
    const auto first = std::find(texts.begin(), texts.end(), "Entry 0");
    ASSERT_NE(first, texts.end());
    ASSERT_LT(first + 2, texts.end());
    EXPECT_EQ(*(first + 1), shortTimeText(entries[0].date)) << "an empty detail leaves no line";
    EXPECT_EQ(*(first + 2), "Entry 1");
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "why"), 11);
    using K = ActivityEntry::Kind;
    EXPECT_EQ(TriggersSettingsView::dotColor(K::started), ui::Color::green());
    EXPECT_EQ(TriggersSettingsView::dotColor(K::ended), ui::Color::red());
    EXPECT_EQ(TriggersSettingsView::dotColor(K::rearmed), ui::Color::orange());
    EXPECT_EQ(TriggersSettingsView::dotColor(K::simulated), ui::Color::named(ui::NamedColor::blue));
    const auto faint = ui::Color::named(ui::NamedColor::white).withOpacity(0.25);
    EXPECT_EQ(TriggersSettingsView::dotColor(K::shielded), faint);
    EXPECT_EQ(TriggersSettingsView::dotColor(K::info), faint);
}

TEST_F(TriggersSettingsViewTest, ClearOnAnEmptyLogRemovesTheStoredKeyAndLogsNothing) {
    sim().userDefaults().setString(ActivityLog::kDefaultsKey, "[]");
    ASSERT_TRUE(view().click("Clear"));
    loop().drain();
    EXPECT_FALSE(sim().userDefaults().persistentValue(ActivityLog::kDefaultsKey));
    EXPECT_TRUE(services().activityLog().entries().empty());
    EXPECT_TRUE(host().alerts().empty());
    EXPECT_TRUE(view().contains("No trigger activity yet."));
}

}  // namespace
}  // namespace orvel
