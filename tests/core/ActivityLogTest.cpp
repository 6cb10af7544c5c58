#include "core/ActivityLog.h"

#include <gtest/gtest.h>

#include "app/compose/Services.h"
#include "support/OrvelTest.h"

namespace orvel {
namespace {

using K = ActivityEntry::Kind;

class ActivityLogTest : public test::OrvelTest {
  protected:
    ActivityEntry entry(std::string title, std::string detail = {}, K kind = K::info) {
        return ActivityEntry::make(kind, std::move(title), std::move(detail));
    }
    Json storedJson() {
        auto data = sim().userDefaults().dataForKey("trigger.log");
        return data ? *parseJson(stringFromData(*data)) : Json();
    }
    void storeJson(const Json& json) {
        sim().userDefaults().setData("trigger.log", dataFromString(dumpJson(json).value()));
    }
};

TEST_F(ActivityLogTest, AddTakesEffectOnTheNextLoopTurnInOrder) {
    ActivityLog& log = services().activityLog();
    ActivityLog::add(entry("first"));
    ActivityLog::add(entry("second"));
    EXPECT_TRUE(log.entries().empty());
    loop().drain();
    ASSERT_EQ(log.entries().size(), 2u);
    EXPECT_EQ(log.entries()[0].title, "second") << "newest first";
    EXPECT_EQ(log.entries()[1].title, "first");
}

TEST_F(ActivityLogTest, EntriesGoToTheGraphThatNamedItselfLastThenBackToTheOneBefore) {
    ActivityLog& cases = services().activityLog();
    {
        Services other(sim());
        other.receiveActivityEntries();
        ActivityLog::add(entry("while the other graph stands"));
        loop().drain();
        ASSERT_EQ(other.activityLog().entries().size(), 1u);
        EXPECT_TRUE(cases.entries().empty());
    }
    ActivityLog::add(entry("after it went"));
    loop().drain();
    ASSERT_EQ(cases.entries().size(), 1u);
    EXPECT_EQ(cases.entries()[0].title, "after it went");
}

TEST_F(ActivityLogTest, AddFromAnotherThreadLandsOnTheMainLoop) {
    std::thread writer([&] { ActivityLog::add(entry("from a worker")); });
    writer.join();
    loop().drain();
    EXPECT_EQ(services().activityLog().entries().at(0).title, "from a worker");
}

TEST_F(ActivityLogTest, KeepsTheNewestFiftyAndStoresExactlyThem) {
    for (int i = 1; i <= 51; ++i) {
        ActivityLog::add(entry("event " + std::to_string(i)));
    }
    loop().drain();
    // A copy: the relaunch below destroys the log this came from.
    const std::vector<ActivityEntry> entries = services().activityLog().entries();
    ASSERT_EQ(entries.size(), 50u);
    EXPECT_EQ(entries.front().title, "event 51");
    EXPECT_EQ(entries.back().title, "event 2");
    const Json stored = storedJson();
    ASSERT_EQ(stored.size(), 50u);
    EXPECT_EQ(stored[0]["title"], "event 51");
    EXPECT_EQ(stored[0]["id"], entries[0].id.uuidString());

    releaseServices();
    EXPECT_EQ(services().activityLog().entries(), entries) << "survives a relaunch";
}

TEST_F(ActivityLogTest, AnOversizedStoredListIsTrimmedToTheNewestFiftyWhenRead) {
    Json list = Json::array();
    for (int i = 0; i < 60; ++i) {
        list.push_back(entry("old " + std::to_string(i)).toJson());
    }
    storeJson(list);
    ActivityLog& log = services().activityLog();
    ASSERT_EQ(log.entries().size(), 50u);
    EXPECT_EQ(log.entries().front().title, "old 0") << "the newest, stored first, are kept";
    EXPECT_EQ(log.entries().back().title, "old 49");
    EXPECT_EQ(log.exportText(false).rfind("\u2500\u2500 TRIGGER ACTIVITY (last 50) ", 0), 0u);
    const Json stored = storedJson();
    ASSERT_EQ(stored.size(), 50u) << "stored trimmed at once, before any append";
    EXPECT_EQ(stored[49]["title"], "old 49");
    const auto lines = sim().log().messages("activity");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("held 60 entries; kept the newest 50 and dropped 10 older ones"),
              std::string::npos)
        << lines[0];

    releaseServices();
    EXPECT_EQ(services().activityLog().entries().size(), 50u);
    EXPECT_EQ(sim().log().messages("activity").size(), 1u) << "said once, not at every start";
    ActivityLog::add(entry("new"));
    loop().drain();
    EXPECT_EQ(services().activityLog().entries().front().title, "new");
    EXPECT_EQ(storedJson().size(), 50u);
}

TEST_F(ActivityLogTest, AnUnreadableEntryIsSkippedKeptAndCounted) {
    Json list = Json::array();
    list.push_back(entry("good one").toJson());
    Json bad = entry("bad kind").toJson();
    bad["kind"] = "exploded";
    list.push_back(bad);
    list.push_back(entry("good two").toJson());
    storeJson(list);

    ActivityLog& log = services().activityLog();
    ASSERT_EQ(log.entries().size(), 2u);
    EXPECT_EQ(log.entries()[1].title, "good two");
    const auto lines = sim().log().messages("activity");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Skipped 1 unreadable"), std::string::npos);

    ActivityLog::add(entry("new"));
    loop().drain();
    const Json stored = storedJson();
    ASSERT_EQ(stored.size(), 4u) << "nothing is lost because one entry is unreadable";
    EXPECT_EQ(stored[2]["kind"], "exploded");
    EXPECT_EQ(log.entries().size(), 3u);
}

TEST_F(ActivityLogTest, DataThatIsNotAListStartsEmptyAndIsLeftUntilTheNextAppend) {
    sim().userDefaults().setData("trigger.log", dataFromString("{\"not\":\"a list\"}"));
    EXPECT_TRUE(services().activityLog().entries().empty());
    EXPECT_TRUE(sim().userDefaults().persistentValue("trigger.log"));
}

TEST_F(ActivityLogTest, ClearRemovesTheStoredKey) {
    ActivityLog::add(entry("x"));
    loop().drain();
    services().activityLog().clear();
    EXPECT_TRUE(services().activityLog().entries().empty());
    EXPECT_FALSE(sim().userDefaults().persistentValue("trigger.log"));
    releaseServices();
    EXPECT_TRUE(services().activityLog().entries().empty());
}

TEST_F(ActivityLogTest, ExportsTheTextBlockCharacterForCharacter) {
    ActivityLog& log = services().activityLog();
    const std::string header0 =
        "\u2500\u2500 TRIGGER ACTIVITY (last 0) "
        "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500"
        "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500";
    EXPECT_EQ(log.exportText(false), header0 + "\n  (empty)");

    loop().setNow(Date::fromUnix(1767603600.0 + 3723));  // 10:02:03 UTC
    ActivityLog::add(entry("Started session \u2014 1 hour", "Office WiFi rule", K::started));
    loop().advance(1);
    ActivityLog::add(entry("Triggers paused", "", K::info));
    loop().drain();

    const std::string header2 =
        "\u2500\u2500 TRIGGER ACTIVITY (last 2) "
        "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500"
        "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500";
    EXPECT_EQ(log.exportText(false),
              header2 +
                  "\n  10:02:04  [info]  Triggers paused"
                  "\n  10:02:03  [started]  Started session \u2014 1 hour \u2014 Office WiFi rule");
}

TEST_F(ActivityLogTest, RedactedExportShowsPseudonymsAndNoDetails) {
    ActivityLog::add(entry("Home", "secret detail"));
    ActivityLog::add(entry("Home", "other secret"));
    loop().drain();
    const std::string text = services().activityLog().exportText(true);
    EXPECT_EQ(text.find("Home"), std::string::npos);
    EXPECT_EQ(text.find("secret"), std::string::npos);
    EXPECT_EQ(text.find(" \u2014 "), std::string::npos);
    const std::string pseudonym = "]  id-";
    const auto first = text.find(pseudonym);
    ASSERT_NE(first, std::string::npos);
    const auto second = text.find(pseudonym, first + 1);
    ASSERT_NE(second, std::string::npos);
    const auto word = [&](std::size_t at) {
        return text.substr(at, text.find('\n', at) == std::string::npos ? std::string::npos
                                                                        : text.find('\n', at) - at);
    };
    EXPECT_EQ(word(first), word(second)) << "same title, same pseudonym";
}

TEST_F(ActivityLogTest, EntriesRoundTripAndRejectMissingKeys) {
    const ActivityEntry original = entry("Title", "Detail", K::shielded);
    auto back = ActivityEntry::fromJson(original.toJson());
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value(), original);
    for (const char* key : {"id", "date", "kind", "title", "detail"}) {
        Json json = original.toJson();
        json.erase(key);
        EXPECT_FALSE(ActivityEntry::fromJson(json).ok()) << key;
    }
}

}  // namespace
}  // namespace orvel
