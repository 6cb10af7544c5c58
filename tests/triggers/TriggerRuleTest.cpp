#include "triggers/TriggerRule.h"

#include <gtest/gtest.h>

#include "foundation/Data.h"
#include "foundation/FileIO.h"

namespace orvel {
namespace {

const std::string kData = ORVEL_TEST_DATA;
const UUID kId = *UUID::fromString("6F1D2C3B-4A59-4E8D-9C7B-1A2B3C4D5E6F");

std::string golden(const std::string& name) {
    auto bytes = readFile(kData + "/triggers/" + name);
    EXPECT_TRUE(bytes.ok()) << name;
    std::string text = bytes ? stringFromData(*bytes) : std::string();
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

TriggerRule minimalRule() {
    TriggerRule rule;
    rule.id = kId;
    rule.name = "Desk";
    rule.durationSeconds = 3600;
    return rule;
}

TriggerRule fullRule() {
    TriggerRule rule;
    rule.id = kId;
    rule.name = "Everything";
    rule.source = TriggerSource::schedule;
    rule.enabled = false;
    rule.btAddress = "a4-83-e7-11-22-33";
    rule.btName = "Headphones";
    rule.matcher = NetworkMatcher::gateway("10.0.1.1");
    rule.onAppear = TriggerAction::nothing;
    rule.onClear = TriggerAction::startSession;
    rule.durationSeconds = -5;
    rule.acOnly = true;
    rule.btBattEnd = 20;
    rule.btBattRecover = 30;
    rule.unavailableHere = true;
    rule.schedKind = "oneshot";
    rule.schedDays = std::vector<std::int64_t>{2, 4, 6};
    rule.schedStartMin = 540;
    rule.schedEndMin = 1020;
    rule.schedDate = Date{818413200.5};
    rule.wakeMac = true;
    rule.lockAtFire = false;
    rule.endsManual = true;
    rule.firedAt = Date{818413260.25};
    rule.appBundleID = "org.example.Editor";
    rule.appName = "Editor";
    rule.watchBackground = false;
    return rule;
}

Result<TriggerRule> decode(const std::string& text,
                           RuleDateForm form = RuleDateForm::referenceSeconds) {
    auto json = parseJson(text);
    if (!json) {
        return json.error();
    }
    return TriggerRule::fromJson(*json, form);
}

TEST(TriggerRuleTest, EncodesTheGoldenFormsAndReadsThemBack) {
    struct Case {
        const char* file;
        TriggerRule rule;
    };
    const Case cases[] = {{"rule-minimal.json", minimalRule()}, {"rule-full.json", fullRule()}};
    for (const auto& c : cases) {
        const std::string expected = golden(c.file);
        EXPECT_EQ(*dumpJson(c.rule.toJson(), 2), expected) << c.file;
        auto back = decode(expected);
        ASSERT_TRUE(back.ok()) << c.file << ": " << back.error().message;
        EXPECT_EQ(*back, c.rule) << c.file;
    }
}

TEST(TriggerRuleTest, EachMatcherHasItsOneKeyObject) {
    struct Case {
        NetworkMatcher matcher;
        const char* json;
    };
    const Case cases[] = {
        {NetworkMatcher::ssid("HomeNet"), R"({"ssid":{"_0":"HomeNet"}})"},
        {NetworkMatcher::ipv4Range("10.0.1.0/24"), R"({"ipv4Range":{"_0":"10.0.1.0/24"}})"},
        {NetworkMatcher::gateway("10.0.1.1"), R"({"gateway":{"_0":"10.0.1.1"}})"},
        {NetworkMatcher::searchDomain("example.com"), R"({"searchDomain":{"_0":"example.com"}})"},
        {NetworkMatcher::interfaceType("ethernet"), R"({"interfaceType":{"_0":"ethernet"}})"},
        {NetworkMatcher::vpnConnected(), R"({"vpnConnected":{}})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(*dumpJson(c.matcher.toJson()), c.json);
        auto back = NetworkMatcher::fromJson(*parseJson(c.json));
        ASSERT_TRUE(back.ok()) << c.json;
        EXPECT_EQ(*back, c.matcher) << c.json;
    }
}

// A valid stored rule with one key replaced ("" removes it).
std::string ruleWith(const std::string& key, const std::string& value) {
    Json json = minimalRule().toJson();
    if (value.empty()) {
        json.erase(key);
    } else {
        json[key] = *parseJson(value);
    }
    return *dumpJson(json);
}

TEST(TriggerRuleTest, RejectsEveryWrongTypeAndForm) {
    struct Case {
        const char* key;
        const char* value;
        const char* why;
    };
    const Case cases[] = {
        {"matcher", "{}", "Invalid number of keys found, expected one."},
        {"matcher", R"({"ssid":{"_0":"a"},"gateway":{"_0":"b"}})",
         "Invalid number of keys found, expected one."},
        {"matcher", R"({"other":{"_0":"a"}})", "Invalid number of keys found, expected one."},
        {"matcher", R"({"ssid":{}})", "_0"},
        {"matcher", R"({"ssid":{"_0":5}})", "_0"},
        {"matcher", R"({"vpnConnected":"on"})", "vpnConnected"},
        {"matcher", R"("ssid")", "matcher"},
        {"source", R"("Bluetooth")", "Bluetooth"},
        {"onAppear", "5", "onAppear"},
        {"onClear", R"("stop")", "stop"},
        {"unavailableHere", "", "unavailableHere"},
        {"acOnly", "", "acOnly"},
        {"enabled", R"("true")", "enabled"},
        {"enabled", "null", "enabled"},
        {"durationSeconds", R"("60")", "durationSeconds"},
        {"durationSeconds", "1.5", "durationSeconds"},
        {"id", R"("not-a-uuid")", "id"},
        {"name", "null", "name"},
        {"wakeMac", R"("yes")", "wakeMac"},
        {"schedDays", R"([1,"2"])", "schedDays"},
        {"schedDays", "3", "schedDays"},
        {"schedDate", R"("2026-12-08T09:00:00Z")", "schedDate"},
        {"btBattEnd", "true", "btBattEnd"},
    };
    for (const auto& c : cases) {
        auto rule = decode(ruleWith(c.key, c.value));
        ASSERT_FALSE(rule.ok()) << c.key << " = " << c.value;
        EXPECT_NE(rule.error().message.find(c.why), std::string::npos)
            << c.key << " = " << c.value << ": " << rule.error().message;
    }
}

TEST(TriggerRuleTest, AcceptsNullOptionalsUnknownKeysAndAnyCaseOfId) {
    struct Case {
        const char* key;
        const char* value;
        std::optional<NetworkMatcher> matcher;
    };
    const Case cases[] = {
        {"matcher", "null", std::nullopt},
        {"matcher", R"({"ssid":{"_0":"HomeNet"},"note":{}})", NetworkMatcher::ssid("HomeNet")},
        {"matcher", R"({"vpnConnected":{"_0":"x"}})", NetworkMatcher::vpnConnected()},
        {"comment", R"("ignored")", std::nullopt},
        {"btName", "null", std::nullopt},
    };
    for (const auto& c : cases) {
        auto rule = decode(ruleWith(c.key, c.value));
        ASSERT_TRUE(rule.ok()) << c.key << " = " << c.value << ": " << rule.error().message;
        EXPECT_EQ(rule->matcher, c.matcher) << c.key << " = " << c.value;
        EXPECT_FALSE(rule->btName);
    }
    auto lower = decode(ruleWith("id", R"("6f1d2c3b-4a59-4e8d-9c7b-1a2b3c4d5e6f")"));
    ASSERT_TRUE(lower.ok());
    EXPECT_EQ(lower->id, kId);
    EXPECT_EQ(lower->toJson()["id"], "6F1D2C3B-4A59-4E8D-9C7B-1A2B3C4D5E6F");
}

TEST(TriggerRuleTest, EqualityComparesEveryFieldAndFalseIsNotAbsent) {
    TriggerRule a = minimalRule();
    TriggerRule b = a;
    EXPECT_EQ(a, b);
    b.wakeMac = false;
    EXPECT_NE(a, b);
    b = a;
    b.firedAt = Date{1.0};
    EXPECT_NE(a, b);
    b = a;
    b.schedDays = std::vector<std::int64_t>{};
    EXPECT_NE(a, b);
    EXPECT_NE(TriggerRule{}.id, TriggerRule{}.id) << "each new rule gets its own id";
}

TEST(TriggerRuleTest, TheSettingsFileWritesWholeSecondsInISO8601) {
    TriggerRule rule = fullRule();
    const Json json = rule.toJson(RuleDateForm::iso8601);
    EXPECT_EQ(json["schedDate"], "2026-12-08T09:00:00Z");
    EXPECT_EQ(json["firedAt"], "2026-12-08T09:01:00Z");
    auto back = TriggerRule::fromJson(json, RuleDateForm::iso8601);
    ASSERT_TRUE(back.ok()) << back.error().message;
    EXPECT_NE(*back, rule) << "the fractions are gone";
    rule.schedDate = Date{818413200.0};
    rule.firedAt = Date{818413260.0};
    EXPECT_EQ(*TriggerRule::fromJson(rule.toJson(RuleDateForm::iso8601), RuleDateForm::iso8601),
              rule);

    auto offset =
        decode(ruleWith("schedDate", R"("2026-12-08T10:00:00+01:00")"), RuleDateForm::iso8601);
    ASSERT_TRUE(offset.ok()) << offset.error().message;
    EXPECT_EQ(offset->schedDate, Date{818413200.0});
    EXPECT_FALSE(decode(ruleWith("schedDate", "818413200"), RuleDateForm::iso8601).ok());
    EXPECT_FALSE(
        decode(ruleWith("schedDate", R"("2026-12-08 09:00")"), RuleDateForm::iso8601).ok());
}

TEST(TriggerRuleTest, OneBadRuleFailsTheWholeList) {
    Json list = TriggerRule::listToJson({minimalRule(), fullRule()});
    ASSERT_EQ(TriggerRule::listFromJson(list)->size(), 2u);
    list[1]["source"] = "Bluetooth";
    auto decoded = TriggerRule::listFromJson(list);
    ASSERT_FALSE(decoded.ok());
    EXPECT_NE(decoded.error().message.find("rule 2"), std::string::npos) << decoded.error().message;
}

TEST(TriggerRuleTest, RawValuesAreExactAndCaseSensitive) {
    EXPECT_EQ(fromRaw<TriggerSource>("wifiSSID"), TriggerSource::wifiSSID);
    EXPECT_FALSE(fromRaw<TriggerSource>("wifissid"));
    EXPECT_EQ(fromRaw<TriggerAction>("endSession"), TriggerAction::endSession);
    EXPECT_FALSE(fromRaw<TriggerAction>("EndSession"));
    EXPECT_EQ(allCases<TriggerSource>(),
              (std::array{TriggerSource::bluetooth, TriggerSource::wifiSSID, TriggerSource::network,
                          TriggerSource::schedule, TriggerSource::app}));
}

}  // namespace
}  // namespace orvel
