#include "platform/UserDefaults.h"

#include "support/PropertyValuePrinter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvel {
namespace {

TEST(UserDefaultsTest, StoredValuesShadowRegisteredOnesUntilRemoved) {
    MemoryUserDefaults d;
    d.registerDefaults({{"showTimer", true}, {"lowBattPct", 20}});
    EXPECT_TRUE(d.boolForKey("showTimer"));
    d.setBool("showTimer", false);
    EXPECT_FALSE(d.boolForKey("showTimer"));
    d.removeObject("showTimer");
    EXPECT_TRUE(d.boolForKey("showTimer"));
    d.setInteger("lowBattPct", 5);
    d.removePersistentDomain();
    EXPECT_EQ(d.integerForKey("lowBattPct"), 20) << "registered values survive";
    EXPECT_TRUE(d.persistentDomain().empty());
    EXPECT_FALSE(d.persistentValue("lowBattPct"));
    EXPECT_TRUE(d.registeredValue("lowBattPct"));
}

TEST(UserDefaultsTest, TypedReadsConvertLikeThePlatform) {
    struct Case {
        DefaultsValue value;
        bool asBool;
        std::int64_t asInteger;
        double asDouble;
        std::optional<std::string> asString;
    };
    const Case cases[] = {
        {true, true, 1, 1.0, "1"},
        {std::int64_t{0}, false, 0, 0.0, "0"},
        {std::int64_t{-3}, true, -3, -3.0, "-3"},
        {2.75, true, 2, 2.75, "2.75"},
        {-2.75, true, -2, -2.75, "-2.75"},
        {1e300, true, INT64_MAX, 1e300, "1.0000000000000001e+300"},
        {"YES", true, 0, 0.0, "YES"},
        {"true", true, 0, 0.0, "true"},
        {"  42abc", true, 42, 42.0, "  42abc"},
        {"0", false, 0, 0.0, "0"},
        {"no", false, 0, 0.0, "no"},
        {"-0.5", false, 0, -0.5, "-0.5"},
        {"", false, 0, 0.0, ""},
        {Data{1, 2}, false, 0, 0.0, std::nullopt},
        {Date{5}, false, 0, 0.0, std::nullopt},
    };
    for (const auto& c : cases) {
        MemoryUserDefaults d;
        d.setObject("k", c.value);
        const std::string name = d.stringForKey("k").value_or("<data/date>");
        EXPECT_EQ(d.boolForKey("k"), c.asBool) << name;
        EXPECT_EQ(d.integerForKey("k"), c.asInteger) << name;
        EXPECT_DOUBLE_EQ(d.doubleForKey("k"), c.asDouble) << name;
        EXPECT_EQ(d.stringForKey("k"), c.asString) << name;
    }
    MemoryUserDefaults d;
    EXPECT_FALSE(d.boolForKey("missing"));
    EXPECT_EQ(d.stringForKey("missing"), std::nullopt);
    d.setData("blob", Data{7});
    EXPECT_EQ(d.dataForKey("blob"), Data{7});
    d.setString("text", "x");
    EXPECT_EQ(d.dataForKey("text"), std::nullopt);
}

TEST(UserDefaultsTest, EachSetAndRemovalAnnouncesItsKeyAfterTheWrite) {
    MemoryUserDefaults d;
    std::vector<std::string> heard;
    auto subscription = d.changed.subscribe([&](const std::string& key) {
        heard.push_back(key + "=" + std::to_string(d.integerForKey(key)));
    });
    d.setInteger("settingsTabSelection", 3);
    d.setInteger("settingsTabSelection", 3);
    d.removeObject("atSubTab");
    d.removePersistentDomain();
    EXPECT_EQ(heard, (std::vector<std::string>{"settingsTabSelection=3", "settingsTabSelection=3",
                                               "atSubTab=0", "=0"}));
}

TEST(UserDefaultsTest, AKeysObserverAnnouncesOnlyItsKeysAndTheWholeDomain) {
    MemoryUserDefaults d;
    int announced = 0;
    {
        DefaultsKeysObserver observer(d, {"settingsTabSelection", "atSubTab"});
        auto subscription = observer.objectWillChange.subscribe([&] { ++announced; });
        d.setInteger("atSubTab", 5);
        d.setBool("showTimer", false);
        d.removeObject("settingsTabSelection");
        d.removePersistentDomain();
        EXPECT_EQ(announced, 3);
    }
    d.setInteger("atSubTab", 1);
    EXPECT_EQ(announced, 3) << "a gone observer hears nothing";
}

TEST(UserDefaultsTest, AFailingComparisonShowsStoredValuesWithTheirTypes) {
    const std::pair<DefaultsValue, const char*> cases[] = {
        {true, "bool true"},
        {std::int64_t{-35}, "integer -35"},
        {2.5, "double 2.5"},
        {"h5", "string \"h5\""},
        {Data{1, 0xab}, "data {01 ab}"},
        {Date{5}, "date 5 s"},
        {DefaultsArray{1, "a"}, "array [integer 1, string \"a\"]"},
        {DefaultsDictionary{{"k", false}, {"n", 1.0}},
         "dictionary {\"k\": bool false, \"n\": double 1}"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(::testing::PrintToString(value), text);
    }
    EXPECT_EQ(::testing::PrintToString(std::optional<DefaultsValue>(std::int64_t{1})),
              "(integer 1)");
}

}  // namespace
}  // namespace orvel
