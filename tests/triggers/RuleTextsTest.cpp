#include <gtest/gtest.h>

#include "foundation/DateFormatting.h"
#include "foundation/Localization.h"
#include "support/OrvelTest.h"
#include "triggers/TriggerRule.h"

namespace orvel {
namespace {

class RuleTextsTest : public test::OrvelTest {};

TriggerRule ruleOf(TriggerSource source, std::string name = "Rule") {
    TriggerRule rule;
    rule.source = source;
    rule.name = std::move(name);
    return rule;
}

TEST_F(RuleTextsTest, DurationLabels) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "Indefinitely"}, {-5, "Indefinitely"}, {1, "0 min"},  {59, "0 min"},
        {60, "1 min"},       {3599, "59 min"},     {3600, "1 h"}, {3659, "1 h"},
        {3660, "1 h 1 min"}, {5400, "1 h 30 min"}, {7200, "2 h"},
    };
    for (const auto& [seconds, label] : cases) {
        TriggerRule rule;
        rule.durationSeconds = seconds;
        EXPECT_EQ(rule.durationLabel(), label) << seconds;
    }
}

TEST_F(RuleTextsTest, ScheduleSummaries) {
    struct Case {
        std::optional<std::vector<std::int64_t>> days;
        std::string summary;
    };
    const Case cases[] = {
        {std::nullopt, "Every day"},
        {std::vector<std::int64_t>{}, "Every day"},
        {std::vector<std::int64_t>{1, 2, 3, 4, 5, 6, 7}, "Every day"},
        {std::vector<std::int64_t>{2, 3, 4, 5, 6, 2}, "Weekdays"},
        {std::vector<std::int64_t>{7, 1}, "Weekends"},
        {std::vector<std::int64_t>{6, 4, 2}, "Mon Wed Fri"},
        {std::vector<std::int64_t>{1, 3}, "Tue Sun"},
        {std::vector<std::int64_t>{0}, ""},
        // Seven values of which one is no weekday are six days, not every day.
        {std::vector<std::int64_t>{1, 2, 3, 4, 5, 6, 9}, "Mon Tue Wed Thu Fri Sun"},
        {std::vector<std::int64_t>{2, 3, 4, 5, 6, 0, 8}, "Weekdays"},
    };
    for (const auto& c : cases) {
        TriggerRule rule = ruleOf(TriggerSource::schedule);
        rule.schedDays = c.days;
        EXPECT_EQ(rule.scheduleSummary(), c.summary) << ::testing::PrintToString(c.days);
    }
}

TEST_F(RuleTextsTest, EventTextsAndTargets) {
    struct Case {
        const char* what;
        TriggerRule rule;
        std::string appeared;
        std::string cleared;
        std::string target;
    };
    auto bt = [](std::optional<std::string> device) {
        TriggerRule r = ruleOf(TriggerSource::bluetooth, "Desk");
        r.btName = std::move(device);
        return r;
    };
    auto net = [](TriggerSource source, std::optional<NetworkMatcher> m) {
        TriggerRule r = ruleOf(source, "Net");
        r.matcher = std::move(m);
        return r;
    };
    auto sched = [](std::optional<std::string> kind, std::optional<std::int64_t> end) {
        TriggerRule r = ruleOf(TriggerSource::schedule, "Work");
        r.schedKind = std::move(kind);
        r.schedDays = std::vector<std::int64_t>{2, 3, 4, 5, 6};
        r.schedStartMin = 540;
        r.schedEndMin = end;
        r.schedDate = Date{818413200.0};
        return r;
    };
    auto app = [](std::optional<std::string> name) {
        TriggerRule r = ruleOf(TriggerSource::app, "Editing");
        r.appName = std::move(name);
        return r;
    };
    const Case cases[] = {
        {"bluetooth", bt("Headphones"), "Headphones connected", "Headphones disconnected",
         "Headphones"},
        {"bluetooth without a name", bt(std::nullopt), "Desk connected", "Desk disconnected",
         "device"},
        {"wifi", net(TriggerSource::wifiSSID, NetworkMatcher::ssid("HomeNet")),
         "Joined WiFi \"HomeNet\"", "Left WiFi \"HomeNet\"", "WiFi SSID HomeNet"},
        {"wifi with a VPN matcher", net(TriggerSource::wifiSSID, NetworkMatcher::vpnConnected()),
         "Joined WiFi \"\"", "Left WiFi \"\"", "VPN connected"},
        {"wifi without matcher", net(TriggerSource::wifiSSID, std::nullopt), "Joined WiFi \"\"",
         "Left WiFi \"\"", "\u2014"},
        {"network VPN", net(TriggerSource::network, NetworkMatcher::vpnConnected()),
         "VPN connected seen", "VPN connected gone", "VPN connected"},
        {"network gateway", net(TriggerSource::network, NetworkMatcher::gateway("10.0.1.1")),
         "Gateway IP 10.0.1.1 seen", "Gateway IP 10.0.1.1 gone", "Gateway IP 10.0.1.1"},
        {"network empty ssid", net(TriggerSource::network, NetworkMatcher::ssid("")),
         "WiFi SSID seen", "WiFi SSID gone", "WiFi SSID"},
        {"network range", net(TriggerSource::network, NetworkMatcher::ipv4Range("10.0.0.0/8")),
         "IPv4 range 10.0.0.0/8 seen", "IPv4 range 10.0.0.0/8 gone", "IPv4 range 10.0.0.0/8"},
        {"window", sched(std::string("window"), 1020), "Work \u2014 window started",
         "Work \u2014 window ended", "Weekdays 9:00 AM\u20135:00 PM"},
        {"fire-at", sched(std::nullopt, std::nullopt), "Work \u2014 window started",
         "Work \u2014 window ended", "Weekdays 9:00 AM"},
        {"one-shot", sched(std::string("oneshot"), std::nullopt),
         "Work \u2014 scheduled time reached", "Work \u2014 scheduled time reached",
         "Dec 8, 2026 at 9:00 AM"},
        {"app", app("Editor"), "Editor launched", "Editor quit", "Editor"},
        {"app without a name", app(std::nullopt), "Editing launched", "Editing quit", "app"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.rule.eventText(true), c.appeared) << c.what;
        EXPECT_EQ(c.rule.eventText(false), c.cleared) << c.what;
        EXPECT_EQ(c.rule.targetText(), c.target) << c.what;
    }
    TriggerRule noDate = sched(std::string("oneshot"), std::nullopt);
    noDate.schedDate.reset();
    EXPECT_EQ(noDate.targetText(), "\u2014");
    EXPECT_EQ(noDate.summaryLine(), "At \u2014 \u2192 start (Indefinitely)");
}

TEST_F(RuleTextsTest, SummaryLinesInUSEnglish) {
    TriggerRule headphones = ruleOf(TriggerSource::bluetooth);
    headphones.durationSeconds = 3600;
    headphones.acOnly = true;
    headphones.btBattEnd = 20;
    headphones.endsManual = true;  // shows only on schedule rules

    TriggerRule wakeUp = ruleOf(TriggerSource::schedule);
    wakeUp.schedDays = std::vector<std::int64_t>{2, 3, 4, 5, 6};
    wakeUp.schedStartMin = 450;
    wakeUp.wakeMac = true;

    TriggerRule office = ruleOf(TriggerSource::schedule);
    office.schedStartMin = 540;
    office.schedEndMin = 1020;
    office.lockAtFire = true;
    office.endsManual = true;
    office.acOnly = true;

    TriggerRule once = ruleOf(TriggerSource::schedule);
    once.schedKind = "oneshot";
    once.schedDate = Date{818413200.0};
    once.firedAt = Date{818413200.0};
    once.durationSeconds = 7200;

    TriggerRule editor = ruleOf(TriggerSource::app);
    editor.onClear = TriggerAction::nothing;
    editor.watchBackground = true;
    editor.acOnly = true;

    TriggerRule wifi = ruleOf(TriggerSource::wifiSSID);
    TriggerRule network = ruleOf(TriggerSource::network);
    network.onAppear = TriggerAction::endSession;
    network.onClear = TriggerAction::nothing;

    const std::pair<TriggerRule, std::string> cases[] = {
        {headphones,
         "Connect \u2192 start (1 h) \u00B7 Disconnect \u2192 end \u00B7 AC only \u00B7 batt <20%"},
        {wakeUp, "At 7:30 AM \u2192 start (Indefinitely) \u00B7 Weekdays \u00B7 wakes computer"},
        {office,
         "9:00 AM \u2192 start (Indefinitely) \u00B7 5:00 PM \u2192 end \u00B7 Every day \u00B7 "
         "locks \u00B7 ends manual \u00B7 AC only"},
        {once, "At Dec 8, 2026 at 9:00 AM \u2192 start (2 h) \u00B7 fired"},
        {editor,
         "Launch \u2192 start (Indefinitely) \u00B7 Quit \u2192 nothing \u00B7 background watch "
         "\u00B7 AC only"},
        {wifi, "Join \u2192 start (Indefinitely) \u00B7 Leave \u2192 end"},
        {network, "Seen \u2192 end \u00B7 Gone \u2192 nothing"},
    };
    for (const auto& [rule, line] : cases) {
        EXPECT_EQ(rule.summaryLine(), line);
    }
}

TEST_F(RuleTextsTest, LocalisedTextsAreLookedUpAndDatesFollowTheLocale) {
    Localization::shared().setTable({
        {"%@ connected", "%@ verbunden"},
        {"start (%@)", "Start (%@)"},
        {"Connect", "Verbinden"},
        {"batt <%lld%%", "Akku <%lld %%"},
        {"Bluetooth", "Bluetooth-Ger\u00E4t"},
        {"Do nothing", "Nichts tun"},
    });
    setCurrentLocaleIdentifier("de_DE");
    TriggerRule rule = ruleOf(TriggerSource::bluetooth);
    rule.btName = "Kopfh\u00F6rer";
    rule.durationSeconds = 3600;
    rule.btBattEnd = 15;
    EXPECT_EQ(rule.eventText(true), "Kopfh\u00F6rer verbunden");
    EXPECT_EQ(rule.summaryLine(),
              "Verbinden \u2192 Start (1 h) \u00B7 Disconnect \u2192 end \u00B7 Akku <15 %");
    EXPECT_EQ(displayName(TriggerSource::bluetooth), "Bluetooth-Ger\u00E4t");
    EXPECT_EQ(label(TriggerAction::nothing), "Nichts tun");
    EXPECT_EQ(TriggerRule::timeText(1020), "17:00");
    EXPECT_EQ(TriggerRule::timeText(std::nullopt), "\u2014");
    EXPECT_EQ(TriggerRule::oneShotDateText(std::nullopt), "\u2014");
}

}  // namespace
}  // namespace orvel
