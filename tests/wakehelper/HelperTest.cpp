#include "wakehelper/Helper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/WakeHelperProtocol.h"
#include "platform/sim/RecordingLogSink.h"
#include "support/RealThings.h"
#include "wakehelper/RtcWakeScheduler.h"

namespace orvel {
namespace {

namespace wp = wake_protocol;
using Alarm = std::optional<std::int64_t>;

constexpr double kNow = 1781085600.0;
const Helper::Peer kUser{1000, 4242};

std::filesystem::path freshFolder(const char* name) {
    auto folder = std::filesystem::temp_directory_path() /
                  (std::string("orvel-") + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

class HelperTest : public ::testing::Test {
  protected:
    Date now = Date::fromUnix(kNow);
    RecordingWakeScheduler rtc;
    std::string statePath;
    std::unique_ptr<Helper> helper = makeHelper();

    std::unique_ptr<Helper> makeHelper(std::string state = "") {
        return std::make_unique<Helper>(rtc, std::move(state), [this] { return now; });
    }
    static std::vector<Date> seconds(std::initializer_list<double> offsets) {
        std::vector<Date> dates;
        for (const double offset : offsets) {
            dates.push_back(Date::fromUnix(kNow + offset));
        }
        return dates;
    }
};

TEST_F(HelperTest, ARequestKeepsItsFutureDatesAndArmsTheEarliestRoundedUp) {
    struct Case {
        const char* what;
        std::vector<Date> request;
        std::vector<Date> scheduled;
        Alarm alarm;
    };
    const Case cases[] = {
        {"an empty list", {}, {}, std::nullopt},
        {"past dates only", seconds({-60, -1}), {}, std::nullopt},
        {"a date equal to now", seconds({0}), {}, std::nullopt},
        {"unsorted", seconds({7200, 60, 3600}), seconds({7200, 60, 3600}),
         static_cast<std::int64_t>(kNow) + 60},
        {"the same date twice", seconds({60, 60}), seconds({60, 60}),
         static_cast<std::int64_t>(kNow) + 60},
        {"a fraction of a second", seconds({60.25}), seconds({60.25}),
         static_cast<std::int64_t>(kNow) + 61},
        {"past and future", seconds({-5, 90}), seconds({90}), static_cast<std::int64_t>(kNow) + 90},
    };
    for (const auto& c : cases) {
        helper->applyWakes(kUser, seconds({1}));  // something earlier to replace
        EXPECT_EQ(helper->applyWakes(kUser, c.request), 0) << c.what;
        EXPECT_EQ(helper->scheduled(kUser.uid), c.scheduled) << c.what;
        EXPECT_EQ(helper->armed(), c.alarm) << c.what;
        EXPECT_EQ(rtc.settings.back(), c.alarm) << c.what;
    }
    EXPECT_EQ(helper->owner(), "org.orvel.Orvel");
}

TEST_F(HelperTest, EachUserReplacesOnlyItsOwnDatesAndTheAlarmIsTheEarliestOfAll) {
    const auto sink = std::make_shared<RecordingLogSink>();
    const auto previous = installLogSink(sink);
    const Helper::Peer a{1000, 4242};
    const Helper::Peer b{1001, 5151};
    const auto at = [](double offset) { return static_cast<std::int64_t>(kNow + offset); };
    struct Step {
        const char* what;
        Helper::Peer peer;
        std::vector<Date> request;
        std::int32_t status;
        std::vector<Date> aKept;
        std::vector<Date> bKept;
        Alarm alarm;
        std::string logged;  // a part of the one line the step logs; empty: none
    };
    const Step steps[] = {
        {"A asks for two hours ahead",
         a,
         seconds({7200}),
         0,
         seconds({7200}),
         {},
         at(7200),
         "uid 1000 (process 4242) replaced its 0 wake dates with 1, the earliest at "
         "2026-06-10 12:00:00 UTC; the alarm is set for 2026-06-10 12:00:00 UTC"},
        {"B asks for one hour ahead", b, seconds({3600}), 0, seconds({7200}), seconds({3600}),
         at(3600), "uid 1001 (process 5151) replaced its 0 wake dates with 1"},
        {"B sends the same again", b, seconds({3600}), 0, seconds({7200}), seconds({3600}),
         at(3600), ""},
        {"B clears its own",
         b,
         {},
         0,
         seconds({7200}),
         {},
         at(7200),
         "uid 1001 (process 5151) cleared its 1 wake date; the alarm is set for "
         "2026-06-10 12:00:00 UTC"},
        {"B picks a date of its own", b, seconds({600}), 0, seconds({7200}), seconds({600}),
         at(600), "the alarm is set for 2026-06-10 10:10:00 UTC"},
        {"a date past the horizon waits", a,
         seconds({7200, Helper::kHorizonSeconds, Helper::kHorizonSeconds + 1}), 0,
         seconds({7200, Helper::kHorizonSeconds}), seconds({600}), at(600),
         "(1 wake date more than 31 days ahead left for later)"},
        {"A clears", a, {}, 0, {}, seconds({600}), at(600), "uid 1000 (process 4242) cleared"},
        {"B clears", b, {}, 0, {}, {}, std::nullopt, "; no alarm is set"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        sink->clear();
        EXPECT_EQ(helper->applyWakes(step.peer, step.request), step.status);
        EXPECT_EQ(helper->scheduled(a.uid), step.aKept);
        EXPECT_EQ(helper->scheduled(b.uid), step.bKept);
        EXPECT_EQ(helper->armed(), step.alarm);
        const auto lines = sink->messages("helper");
        if (step.logged.empty()) {
            EXPECT_TRUE(lines.empty()) << lines.front();
        } else {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_NE(lines[0].find(step.logged), std::string::npos) << lines[0];
        }
    }

    // Sixteen users hold dates: a seventeenth is turned away and changes nothing, while those
    // holding dates still replace theirs, and a slot is free again once a user's dates pass.
    for (Helper::UserID uid = 2000; uid < 2000 + Helper::kMaxUsers; ++uid) {
        ASSERT_EQ(helper->applyWakes({uid, 1}, seconds({900.0 + uid})), 0);
    }
    const auto alarm = helper->armed();
    sink->clear();
    EXPECT_EQ(helper->applyWakes(a, seconds({60})), wp::kStatusTooManyUsers);
    EXPECT_EQ(helper->answer(R"({"op":"scheduleWakes","dates":[1781085660]})", a).close, true);
    EXPECT_TRUE(helper->scheduled(a.uid).empty());
    EXPECT_EQ(helper->armed(), alarm);
    const auto refused = sink->messages("helper");
    ASSERT_FALSE(refused.empty());
    EXPECT_NE(refused.front().find("uid 1000 (process 4242) was refused"), std::string::npos);
    EXPECT_EQ(helper->applyWakes(a, {}), 0) << "clearing nothing needs no room";
    EXPECT_EQ(helper->applyWakes({2003, 1}, seconds({60})), 0);
    now = Date::fromUnix(kNow + 61);
    EXPECT_EQ(helper->applyWakes(a, seconds({7200})), 0);
    EXPECT_EQ(helper->scheduled(a.uid), seconds({7200}));
    installLogSink(previous);
}

TEST_F(HelperTest, TheAlarmIsWrittenOnlyWhenItsDateChanges) {
    struct Step {
        std::vector<Date> request;
        std::size_t writes;
    };
    const Step steps[] = {
        {seconds({600, 1200}), 1},
        {seconds({600, 1200}), 1},        // unchanged
        {seconds({1200, 600, 1800}), 1},  // same earliest
        {seconds({300}), 2},
        {{}, 3},
        {{}, 3},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(helper->applyWakes(kUser, step.request), 0);
        EXPECT_EQ(rtc.settings.size(), step.writes);
    }
}

TEST_F(HelperTest, AFailedWriteIsTheReplyAndTheNextRequestWritesAgain) {
    rtc.failure = -EACCES;
    EXPECT_EQ(helper->applyWakes(kUser, seconds({600})), -EACCES);
    EXPECT_EQ(helper->scheduled(kUser.uid), seconds({600})) << "the date is still kept";
    EXPECT_EQ(helper->armed(), std::nullopt);
    rtc.failure = 0;
    EXPECT_EQ(helper->applyWakes(kUser, seconds({600})), 0);
    EXPECT_EQ(rtc.settings.size(), 2u);
    EXPECT_EQ(helper->armed(), static_cast<std::int64_t>(kNow) + 600);
}

TEST_F(HelperTest, OnceTheArmedDatePassesTheNextOneIsArmed) {
    helper->applyWakes(kUser, seconds({60, 3600, 30}));
    EXPECT_EQ(helper->armed(), static_cast<std::int64_t>(kNow) + 30);
    now = Date::fromUnix(kNow + 30);
    EXPECT_EQ(helper->rearm(), 0);
    EXPECT_EQ(helper->armed(), static_cast<std::int64_t>(kNow) + 60);
    now = Date::fromUnix(kNow + 4000);
    helper->rearm();
    EXPECT_EQ(helper->armed(), std::nullopt);
    EXPECT_EQ(rtc.settings.back(), std::nullopt);
}

TEST_F(HelperTest, ARestartedHelperReloadsItsDatesAndArmsThemAgain) {
    const auto folder = freshFolder("helper-state");
    const std::string state = (folder / "state" / "wakes.json").string();
    helper = makeHelper(state);
    helper->applyWakes(kUser, seconds({600, 1200}));

    RecordingWakeScheduler fresh;
    Helper restarted(fresh, state, [this] { return now; });
    restarted.load();
    EXPECT_EQ(restarted.scheduled(kUser.uid), seconds({600, 1200}));
    ASSERT_EQ(fresh.settings.size(), 1u) << "armed at start even when unchanged";
    EXPECT_EQ(fresh.settings.back(), static_cast<std::int64_t>(kNow) + 600);
    // The earlier run's wakes are cancelled by the next request.
    restarted.applyWakes(kUser, {});
    EXPECT_EQ(fresh.settings.back(), std::nullopt);

    std::ofstream(state) << "not json";
    RecordingWakeScheduler third;
    Helper afterDamage(third, state, [this] { return now; });
    afterDamage.load();
    EXPECT_TRUE(afterDamage.allScheduled().empty());
    std::filesystem::remove_all(folder);
}

TEST_F(HelperTest, TheKeptFileNamesEachDatesUserAndAnEarlierHelpersDatesBecomeRoots) {
    const auto folder = freshFolder("helper-owners");
    const std::string state = (folder / "wakes.json").string();
    helper = makeHelper(state);
    helper->applyWakes({0, 1}, seconds({1200}));
    helper->applyWakes(kUser, seconds({600, 600}));
    auto kept = parseJson(test::readText(state));
    ASSERT_TRUE(kept.ok());
    EXPECT_EQ(kept.value(),
              parseJson("[{\"uid\":0,\"date\":" + std::to_string(kNow + 1200) +
                        "},{\"uid\":1000,\"date\":" + std::to_string(kNow + 600) +
                        "},{\"uid\":1000,\"date\":" + std::to_string(kNow + 600) + "}]")
                  .value());

    const auto sink = std::make_shared<RecordingLogSink>();
    const auto previous = installLogSink(sink);
    struct Case {
        const char* what;
        std::string text;
        std::vector<Helper::Wake> loaded;
        std::vector<std::string> logged;
    };
    const auto date = [](double offset) { return Date::fromUnix(kNow + offset); };
    const Case cases[] = {
        {"written by this helper",
         test::readText(state),
         {{0, date(1200)}, {1000, date(600)}, {1000, date(600)}},
         {}},
        {"an earlier helper's bare dates",
         "[" + std::to_string(kNow + 600) + "," + std::to_string(kNow - 60) + "," +
             std::to_string(kNow + 900) + "]",
         {{0, date(600)}, {0, date(900)}},
         {"the kept wake dates in " + state +
          " name no user (an earlier helper wrote them): 3 wake dates taken as root's, to pass "
          "as before"}},
        {"entries that are no wake dates",
         "[{\"uid\":1000,\"date\":" + std::to_string(kNow + 600) +
             "},{\"uid\":-1,\"date\":1},{\"uid\":5},"
             "{\"uid\":4294967295,\"date\":1},\"x\"]",
         {{1000, date(600)}},
         {"4 of the kept entries in " + state + " are not wake dates and were dropped"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(state) << c.text;
        sink->clear();
        RecordingWakeScheduler fresh;
        Helper restarted(fresh, state, [this] { return now; });
        restarted.load();
        EXPECT_EQ(restarted.allScheduled(), c.loaded);
        EXPECT_EQ(sink->messages("helper"), c.logged);
        // Another user's request leaves them all alone.
        restarted.applyWakes({1001, 1}, {});
        EXPECT_EQ(restarted.allScheduled(), c.loaded);
    }
    installLogSink(previous);
    std::filesystem::remove_all(folder);
}

TEST_F(HelperTest, AKeptFileThatIsDamagedOrTooLargeIsDroppedWithOneLogLine) {
    const auto folder = freshFolder("helper-kept");
    const std::string state = (folder / "wakes.json").string();
    // A well-formed list of one date, padded with blanks to the given size.
    const auto padded = [](std::size_t size) {
        std::string text = R"([{"uid":1000,"date":)" +
                           std::to_string(static_cast<std::int64_t>(kNow) + 600) + "}]";
        return text + std::string(size - text.size(), ' ');
    };
    struct Case {
        const char* what;
        std::string text;
        bool kept;
        std::string logged;
    };
    const Case cases[] = {
        {"at the limit", padded(Helper::kMaxStateSize), true, ""},
        {"one byte over", padded(Helper::kMaxStateSize + 1), false,
         "the kept wake dates in " + state + " are too large (" +
             std::to_string(Helper::kMaxStateSize + 1) +
             " bytes, over the limit of 64 KiB) and were dropped"},
        {"far over", padded(8u << 20), false,
         "the kept wake dates in " + state +
             " are too large (8 MiB, over the limit of 64 KiB) and were dropped"},
        {"damaged", "not json", false,
         "the kept wake dates in " + state + " are unreadable and were dropped"},
    };
    const auto sink = std::make_shared<RecordingLogSink>();
    const auto previous = installLogSink(sink);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(state) << c.text;
        sink->clear();
        RecordingWakeScheduler fresh;
        Helper restarted(fresh, state, [this] { return now; });
        restarted.load();
        EXPECT_EQ(restarted.scheduled(kUser.uid), c.kept ? seconds({600}) : std::vector<Date>{});
        ASSERT_EQ(fresh.settings.size(), 1u) << "armed, or cleared, at start";
        EXPECT_EQ(fresh.settings.back(),
                  c.kept ? Alarm(static_cast<std::int64_t>(kNow) + 600) : std::nullopt);
        EXPECT_EQ(sink->messages("helper"), c.logged.empty() ? std::vector<std::string>{}
                                                             : std::vector<std::string>{c.logged});
    }
    installLogSink(previous);
    std::filesystem::remove_all(folder);
}

TEST_F(HelperTest, EveryRequestIsAnsweredAndOnlyValidOnesAct) {
    helper->applyWakes(kUser, seconds({600}));
    const std::string dates64 = [] {
        std::string list;
        for (int i = 0; i < 64; ++i) {
            list += (i ? "," : "") + std::to_string(static_cast<std::int64_t>(kNow) + 600 + i);
        }
        return list;
    }();
    struct Case {
        std::string payload;
        std::string reply;
        bool close;
        bool acts;
    };
    const Case cases[] = {
        {R"({"op":"ping"})", R"({"version":"orvel-wake-helper 1.0"})", false, false},
        {R"({"op":"ping","x":1})", R"({"status":8})", true, false},
        {R"({"op":"scheduleWakes","dates":[]})", R"({"status":0})", false, true},
        {R"({"op":"scheduleWakes","dates":[)" + dates64 + "]}", R"({"status":0})", false, true},
        {R"({"op":"scheduleWakes","dates":[)" + dates64 + ",1]}", R"({"status":7})", true, false},
        {R"({"op":"scheduleWakes","dates":["1781085700"]})", R"({"status":6})", true, false},
        {R"({"op":"scheduleWakes","dates":[1e300]})", R"({"status":6})", true, false},
        {R"({"op":"scheduleWakes","dates":[-1]})", R"({"status":6})", true, false},
        {R"({"op":"scheduleWakes","dates":[8589934593]})", R"({"status":6})", true, false},
        {R"({"op":"scheduleWakes","dates":[true]})", R"({"status":6})", true, false},
        {R"({"op":"scheduleWakes","dates":{}})", R"({"status":6})", true, false},
        {R"({"op":"scheduleWakes"})", R"({"status":6})", true, false},
        {R"({"op":"scheduleWakes","dates":[],"x":1})", R"({"status":8})", true, false},
        {R"({"op":"reboot"})", R"({"status":5})", true, false},
        {R"({"op":1})", R"({"status":5})", true, false},
        {R"({})", R"({"status":5})", true, false},
        {R"([1,2])", R"({"status":4})", true, false},
        {"not json", R"({"status":4})", true, false},
        {R"({"op":"ping")", R"({"status":4})", true, false},
    };
    for (const auto& c : cases) {
        helper->applyWakes(kUser, seconds({600}));
        const Helper::Answer answer = helper->answer(c.payload, kUser);
        EXPECT_EQ(answer.reply, c.reply) << c.payload;
        EXPECT_EQ(answer.close, c.close) << c.payload;
        EXPECT_EQ(helper->scheduled(kUser.uid) != seconds({600}), c.acts) << c.payload;
    }
}

TEST(FrameReaderTest, FramesAreCutFromAnyStreamAndBadLengthsAreRefused) {
    const std::string ping = wp::encodeFrame(R"({"op":"ping"})");
    wp::FrameReader reader;
    for (std::size_t i = 0; i + 1 < ping.size(); ++i) {
        EXPECT_EQ(reader.feed(ping.substr(i, 1)), 1u);
        EXPECT_EQ(reader.state(), wp::FrameReader::State::needMore) << i;
    }
    reader.feed(ping.substr(ping.size() - 1));
    ASSERT_EQ(reader.state(), wp::FrameReader::State::frame);
    EXPECT_EQ(reader.payload(), R"({"op":"ping"})");

    reader.reset();
    const std::string two = ping + ping;
    EXPECT_EQ(reader.feed(two), ping.size()) << "stops after the first frame";

    struct Case {
        std::string bytes;
        wp::FrameReader::State state;
    };
    const Case cases[] = {
        {std::string("\0\0\0\0", 4), wp::FrameReader::State::badLength},
        {std::string("\0\0\x10\x01", 4), wp::FrameReader::State::badLength},
        {std::string("\xff\xff\xff\xff", 4), wp::FrameReader::State::badLength},
        {std::string("\0\0\x10\0", 4) + std::string(4096, ' '), wp::FrameReader::State::frame},
        {std::string("\0\0\0\x05", 4) + "abc", wp::FrameReader::State::needMore},
    };
    for (const auto& c : cases) {
        reader.reset();
        reader.feed(c.bytes);
        EXPECT_EQ(reader.state(), c.state) << c.bytes.size();
    }
}

// The file's values in the order they are written.
class WatchedRtc final : public RtcWakeScheduler {
  public:
    using RtcWakeScheduler::RtcWakeScheduler;
    std::vector<std::string> writes;

  protected:
    std::int32_t write(const std::string& text) override {
        writes.push_back(text);
        return RtcWakeScheduler::write(text);
    }
};

TEST(RtcWakeSchedulerTest, EachSettingWritesZeroFirstThenTheSecondsAndFailuresAreErrnos) {
    const auto folder = freshFolder("rtc");
    const auto wakealarm = folder / "wakealarm";
    std::ofstream(wakealarm) << "";
    WatchedRtc rtc(wakealarm.string());
    EXPECT_EQ(rtc.setAlarm(1781085661), 0);
    EXPECT_EQ(rtc.writes, (std::vector<std::string>{"0", "1781085661"}));
    std::ifstream in(wakealarm);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
              "1781085661");
    EXPECT_EQ(rtc.setAlarm(std::nullopt), 0);
    EXPECT_EQ(rtc.writes.size(), 3u);

    // A failed "0" stops the setting there.
    WatchedRtc missing((folder / "missing" / "wakealarm").string());
    EXPECT_EQ(missing.setAlarm(1), -ENOENT);
    EXPECT_EQ(missing.writes.size(), 1u);
    EXPECT_EQ(RtcWakeScheduler(folder.string()).setAlarm(1), -EISDIR);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace orvel
