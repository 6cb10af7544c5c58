#include "triggers/ScheduleTriggerSource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Calendar.h"
#include "foundation/DateFormatting.h"
#include "platform/HelperService.h"
#include "support/SessionTest.h"
#include "triggers/TriggerEngine.h"
#include "triggers/TriggerTestSupport.h"
#include "triggers/WakeHelperClient.h"

namespace orvel {
namespace {

using test::activity;
using test::makeRule;

// New York local time, as the rules see it.
Date ny(int year, int month, int day, int hour, int minute, double second = 0) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_isdst = -1;
    return Date::fromUnix(static_cast<double>(std::mktime(&parts)) + second);
}

class ScheduleTriggerSourceTest : public test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        setenv("TZ", "America/New_York", 1);
        tzset();
        setCurrentLocaleIdentifier("en_US");
        services().triggerEngine().start();
        loop().drain();
    }
    void TearDown() override {
        SessionTest::TearDown();
        setCurrentLocaleIdentifier(std::nullopt);
        setenv("TZ", "UTC", 1);
        tzset();
    }

    ScheduleTriggerSource& source() { return services().scheduleSource(); }

    static TriggerRule window(const char* name, int startMin, int endMin,
                              std::vector<std::int64_t> days = {}) {
        TriggerRule rule = makeRule(TriggerSource::schedule, name);
        rule.schedStartMin = startMin;
        rule.schedEndMin = endMin;
        rule.schedDays = std::move(days);
        return rule;
    }
    static TriggerRule fireAt(const char* name, int startMin, std::vector<std::int64_t> days = {}) {
        TriggerRule rule = makeRule(TriggerSource::schedule, name);
        rule.schedStartMin = startMin;
        rule.schedDays = std::move(days);
        return rule;
    }
    static TriggerRule oneShot(const char* name, Date date) {
        TriggerRule rule = makeRule(TriggerSource::schedule, name);
        rule.schedKind = "oneshot";
        rule.schedDate = date;
        return rule;
    }
    void storeLastTick(Date date) {
        sim().userDefaults().setDouble(ScheduleTriggerSource::kLastTickKey, date.unixTime());
    }
    double storedLastTick() {
        return sim().userDefaults().doubleForKey(ScheduleTriggerSource::kLastTickKey);
    }
    // Activity entries whose title names the rule's catch-up ("Missed", "fired late").
    std::vector<std::string> catchUpEntries() {
        loop().drain();
        std::vector<std::string> found;
        for (const auto& line : activity(services().activityLog())) {
            if (line.find("Missed") != std::string::npos ||
                line.find("fired late") != std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }
    const TriggerRule* stored(const UUID& id) {
        for (const auto& rule : services().triggerEngine().rules()) {
            if (rule.id == id) {
                return &rule;
            }
        }
        return nullptr;
    }
};

TEST_F(ScheduleTriggerSourceTest, StartTimesInDaylightSavingChangesFollowTheGapAndRepeatPolicies) {
    struct Case {
        const char* what;
        Date day;
        int hour;
        int minute;
        double unix;  // expected, seconds since 1970
    };
    const Case cases[] = {
        {"an ordinary summer day", ny(2026, 6, 10, 12, 0), 8, 0, 1781092800},
        {"inside the spring-forward gap: 03:00 EDT", ny(2026, 3, 8, 12, 0), 2, 30, 1772953200},
        {"the gap's first minute", ny(2026, 3, 8, 12, 0), 2, 0, 1772953200},
        {"just before the gap", ny(2026, 3, 8, 12, 0), 1, 59, 1772953140},
        {"the repeated hour's first pass (EDT)", ny(2026, 11, 1, 12, 0), 1, 30, 1793511000},
        {"after the repeated hour", ny(2026, 11, 1, 12, 0), 2, 0, 1793516400},
    };
    for (const auto& c : cases) {
        const auto got = dateBySettingTime(c.day, c.hour, c.minute);
        ASSERT_TRUE(got.has_value()) << c.what;
        EXPECT_EQ(static_cast<long long>(got->unixTime()), static_cast<long long>(c.unix))
            << c.what;
    }
}

TEST_F(ScheduleTriggerSourceTest, WindowsHoldFromTheirStartOnTheRuleDaysForTheirLength) {
    // 2026-06-08 is a Monday, 06-12 a Friday.
    const TriggerRule mondayDay = window("Monday", 480, 480, {2});
    const TriggerRule fridayNight = window("Friday night", 1320, 120, {6});
    struct Case {
        const TriggerRule* rule;
        Date at;
        bool holds;
    };
    const Case cases[] = {
        {&mondayDay, ny(2026, 6, 8, 7, 59, 59), false},
        {&mondayDay, ny(2026, 6, 8, 8, 0), true},
        {&mondayDay, ny(2026, 6, 9, 7, 59, 59), true},
        {&mondayDay, ny(2026, 6, 9, 8, 0), false},
        {&fridayNight, ny(2026, 6, 12, 21, 59), false},
        {&fridayNight, ny(2026, 6, 12, 22, 0), true},
        {&fridayNight, ny(2026, 6, 13, 1, 59, 59), true},
        {&fridayNight, ny(2026, 6, 13, 2, 0), false},
        {&fridayNight, ny(2026, 6, 13, 23, 0), false},
        {&fridayNight, ny(2026, 6, 14, 1, 0), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScheduleTriggerSource::isActive(*c.rule, c.at), c.holds)
            << c.rule->name << " at " << c.at.unixTime();
    }
    TriggerRule off = mondayDay;
    off.enabled = false;
    EXPECT_FALSE(ScheduleTriggerSource::isActive(off, ny(2026, 6, 8, 12, 0)));
}

TEST_F(ScheduleTriggerSourceTest, DueOccurrencesAreTheStartsInTheHalfOpenInterval) {
    const TriggerRule daily = fireAt("Daily", 540);
    const Date nine = ny(2026, 6, 10, 9, 0);
    EXPECT_TRUE(ScheduleTriggerSource::dueOccurrences(daily, nine, nine + 60).empty());
    EXPECT_EQ(ScheduleTriggerSource::dueOccurrences(daily, nine - 60, nine),
              std::vector<Date>{nine});
    EXPECT_EQ(ScheduleTriggerSource::dueOccurrences(daily, nine - 60, nine + 2 * 86400).size(), 3u);
    EXPECT_TRUE(
        ScheduleTriggerSource::dueOccurrences(window("W", 540, 600), nine - 60, nine).empty());
    TriggerRule shot = oneShot("Once", nine);
    EXPECT_EQ(ScheduleTriggerSource::dueOccurrences(shot, nine - 1, nine), std::vector<Date>{nine});
    shot.firedAt = nine;
    EXPECT_TRUE(ScheduleTriggerSource::dueOccurrences(shot, nine - 1, nine).empty());
}

TEST_F(ScheduleTriggerSourceTest, WindowEdgesStartAndEndTheSessionAtTheRuleTimes) {
    loop().setNow(ny(2026, 6, 10, 8, 59, 50));
    TriggerRule rule = window("Work", 540, 545);
    services().triggerEngine().add(rule);
    loop().drain();
    EXPECT_FALSE(controller().isActive());
    loop().advance(20);
    EXPECT_TRUE(source().activeNow.count(rule.id));
    EXPECT_TRUE(controller().isActive());
    loop().advance(5 * 60);
    EXPECT_FALSE(source().activeNow.count(rule.id));
    EXPECT_FALSE(controller().isActive());
}

TEST_F(ScheduleTriggerSourceTest, AWindowAlreadyOpenAtStartGivesNoOpeningEdge) {
    loop().setNow(ny(2026, 6, 10, 9, 1));
    TriggerRule rule = window("Work", 540, 545);
    services().triggerEngine().add(rule);
    loop().advance(40);
    EXPECT_TRUE(source().activeNow.count(rule.id));
    EXPECT_FALSE(controller().isActive());
}

TEST_F(ScheduleTriggerSourceTest, LatenessDecidesBetweenFiringNotingAndMissing) {
    struct Case {
        double lateness;
        bool fires;
        std::vector<std::string> entries;
    };
    const Case cases[] = {
        {25.0, true, {}},
        {25.5, true, {"info|Standup fired late|Caught up within the 30-minute grace window"}},
        {1800.0, true, {"info|Standup fired late|Caught up within the 30-minute grace window"}},
        {1800.5,
         false,
         {"info|Missed \u2014 Standup|Scheduled for Jun 10, 9:00 AM; the computer couldn't act "
          "within "
          "the 30-minute grace window"}},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        const Date nine = ny(2026, 6, 10, 9, 0);
        storeLastTick(nine - 3600);
        loop().setNow(nine + c.lateness);
        services().triggerEngine().add(fireAt("Standup", 540));
        EXPECT_EQ(controller().isActive(), c.fires) << c.lateness;
        EXPECT_EQ(catchUpEntries(), c.entries) << c.lateness;
    }
}

TEST_F(ScheduleTriggerSourceTest, DaysMissedWhileNotRunningEachGetTheirOwnEntry) {
    // Monday evening to Thursday 10:00.
    storeLastTick(ny(2026, 6, 8, 19, 0));
    loop().setNow(ny(2026, 6, 11, 10, 0));
    services().triggerEngine().add(fireAt("Morning", 540));
    const std::string tail = "; the computer couldn't act within the 30-minute grace window";
    EXPECT_EQ(catchUpEntries(),
              (std::vector<std::string>{
                  "info|Missed \u2014 Morning|Scheduled for Jun 9, 9:00 AM" + tail,
                  "info|Missed \u2014 Morning|Scheduled for Jun 10, 9:00 AM" + tail,
                  "info|Missed \u2014 Morning|Scheduled for Jun 11, 9:00 AM" + tail,
              }));
    EXPECT_FALSE(controller().isActive());
}

TEST_F(ScheduleTriggerSourceTest, TheFirstTickCatchesUpNothingFromThePast) {
    loop().setNow(ny(2026, 6, 10, 9, 0, 10));
    services().triggerEngine().add(fireAt("Standup", 540));
    EXPECT_TRUE(catchUpEntries().empty());
    EXPECT_FALSE(controller().isActive());
    EXPECT_EQ(storedLastTick(), ny(2026, 6, 10, 9, 0, 10).unixTime());
}

TEST_F(ScheduleTriggerSourceTest, OneShotsAreMarkedFiredAndDisabledWhetherFiredOrMissed) {
    struct Case {
        double lateness;
        bool fires;
    };
    for (const auto& c : {Case{10, true}, Case{7200, false}}) {
        TearDown();
        SetUp();
        const Date when = ny(2026, 6, 10, 14, 0);
        loop().setNow(when - 30);
        const TriggerRule rule = oneShot("Once", when);
        services().triggerEngine().add(rule);
        loop().setNow(when + c.lateness);
        source().tick();
        EXPECT_EQ(controller().isActive(), c.fires) << c.lateness;
        const TriggerRule* after = stored(rule.id);
        ASSERT_NE(after, nullptr);
        EXPECT_FALSE(after->enabled) << c.lateness;
        EXPECT_TRUE(after->firedAt.has_value()) << c.lateness;
        EXPECT_EQ(catchUpEntries().size(), c.fires ? 0u : 1u) << c.lateness;
    }
}

TEST_F(ScheduleTriggerSourceTest, AWakeTicksAtOnce) {
    loop().setNow(ny(2026, 6, 10, 8, 0));
    TriggerRule rule = window("Work", 540, 600);
    services().triggerEngine().add(rule);
    // The timers stand still while asleep; only the did-wake tick can see the window.
    sim().workspace().sleepFor(3600 + 60);
    EXPECT_TRUE(source().activeNow.count(rule.id));
    EXPECT_TRUE(controller().isActive());
}

TEST_F(ScheduleTriggerSourceTest, EveryTickStoresItsTimeAndSyncsWakesEvenWithoutRules) {
    loop().setNow(ny(2026, 6, 10, 8, 0));
    services().wakeHelper().lastSynced = {ny(2026, 1, 1, 0, 0)};
    source().tick();
    EXPECT_EQ(storedLastTick(), ny(2026, 6, 10, 8, 0).unixTime());
    EXPECT_TRUE(services().wakeHelper().lastSynced.empty());
}

TEST_F(ScheduleTriggerSourceTest, UpcomingWakeDatesAreTheEarliestStartsOfWakeRules) {
    // Wednesday 2026-06-10, 10:00.
    const Date now = ny(2026, 6, 10, 10, 0);
    loop().setNow(now);
    std::vector<TriggerRule> rules;
    const auto wake = [](TriggerRule rule) {
        rule.wakeMac = true;
        return rule;
    };
    rules.push_back(wake(fireAt("Seven a", 420)));
    rules.push_back(wake(fireAt("Seven b", 420)));
    rules.push_back(wake(window("Eleven", 660, 700)));
    rules.push_back(fireAt("No wake", 300));
    TriggerRule disabled = wake(fireAt("Off", 360));
    disabled.enabled = false;
    rules.push_back(disabled);
    rules.push_back(wake(oneShot("Past", now - 60)));
    TriggerRule shot = wake(oneShot("Soon", now + 60));
    rules.push_back(shot);
    source().start(rules);
    const auto dates = source().upcomingWakeDates();
    ASSERT_EQ(dates.size(), 16u);
    EXPECT_TRUE(std::is_sorted(dates.begin(), dates.end()));
    EXPECT_EQ(dates[0], now + 60);
    EXPECT_EQ(dates[1], ny(2026, 6, 10, 11, 0));
    EXPECT_EQ(dates[2], ny(2026, 6, 11, 7, 0));
    EXPECT_EQ(dates[3], ny(2026, 6, 11, 7, 0));
    EXPECT_EQ(dates[4], ny(2026, 6, 11, 11, 0));
    EXPECT_EQ(dates[15], ny(2026, 6, 15, 7, 0));
    EXPECT_EQ(services().wakeHelper().lastSynced, dates);
}

TEST_F(ScheduleTriggerSourceTest, AWeeklyWakeAfterTodaysStartIsNextWeeksOnly) {
    // Monday 2026-06-08 at 09:00, rule on Mondays at 08:00.
    loop().setNow(ny(2026, 6, 8, 9, 0));
    TriggerRule rule = fireAt("Monday", 480, {2});
    rule.wakeMac = true;
    source().start({rule});
    EXPECT_EQ(source().upcomingWakeDates(), std::vector<Date>{ny(2026, 6, 15, 8, 0)});
    source().stop();
    EXPECT_TRUE(services().wakeHelper().lastSynced.empty());
}

}  // namespace
}  // namespace orvel

namespace orvel {
namespace {

TEST_F(ScheduleTriggerSourceTest, AOneShotEnabledOrResumedAfterItsDateIsStillCaughtUp) {
    struct Case {
        const char* what;
        double pauseSeconds;  // 0: no pause; the rule is added after its date
        bool fires;
    };
    const Case cases[] = {
        {"added two minutes after its date", 0, true},
        {"a pause that ends within the grace", 900, true},
        {"a pause that ends after the grace", 3600, false},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        const Date when = ny(2026, 6, 10, 14, 0);
        const TriggerRule rule = oneShot("Once", when);
        if (c.pauseSeconds > 0) {
            loop().setNow(when - 60);
            services().triggerEngine().add(rule);
            services().triggerEngine().pause(c.pauseSeconds);
            loop().advance(c.pauseSeconds + 1);
        } else {
            loop().setNow(when + 120);
            services().triggerEngine().add(rule);
        }
        EXPECT_EQ(controller().isActive(), c.fires) << c.what;
        const auto entries = catchUpEntries();
        ASSERT_EQ(entries.size(), 1u) << c.what;
        EXPECT_NE(entries[0].find(c.fires ? "fired late" : "Missed"), std::string::npos) << c.what;
        ASSERT_NE(stored(rule.id), nullptr);
        EXPECT_TRUE(stored(rule.id)->firedAt.has_value()) << c.what;
    }
}

// Between boundaries nothing ticks (no list sent to the helper) and nothing is stored; each
// boundary is seen at its very second, and only a due occurrence stores its tick.
TEST_F(ScheduleTriggerSourceTest, TicksComeAtTheBoundariesAndOnlyDueOccurrencesStoreTheirTime) {
    sim().helperService().setStatus(helper_service_status::kEnabled);
    const Date eight = ny(2026, 6, 10, 8, 0);
    loop().setNow(eight);
    TriggerRule work = window("Work", 540, 545);
    services().triggerEngine().add(work);
    services().triggerEngine().add(fireAt("Standup", 630));
    loop().drain();
    const auto sends = [this] { return sim().helperConnection().sent().size(); };
    const std::size_t atStart = sends();
    struct Step {
        Date at;
        bool sessionActive;
        std::size_t ticks;  // since the start
        Date stored;
    };
    const Step steps[] = {
        {ny(2026, 6, 10, 8, 59, 59), false, 0, eight},
        {ny(2026, 6, 10, 9, 0), true, 1, eight},
        {ny(2026, 6, 10, 9, 4, 59), true, 1, eight},
        {ny(2026, 6, 10, 9, 5), false, 2, eight},
        {ny(2026, 6, 10, 10, 29, 59), false, 2, eight},
        {ny(2026, 6, 10, 10, 30), true, 3, ny(2026, 6, 10, 10, 30)},
    };
    for (const auto& step : steps) {
        loop().advance(step.at.timeIntervalSince(now()));
        SCOPED_TRACE(templateDateText(step.at, "jmmss"));
        EXPECT_EQ(controller().isActive(), step.sessionActive);
        EXPECT_EQ(sends() - atStart, step.ticks);
        EXPECT_EQ(storedLastTick(), step.stored.unixTime());
    }
    EXPECT_TRUE(catchUpEntries().empty()) << "nothing late";
}

// A run that ends without a word (a crash) between two boundaries leaves the time of its last
// stored tick; the next start catches up what fell due since.
TEST_F(ScheduleTriggerSourceTest, ACrashBetweenBoundariesStillCatchesUpOnTheNextStart) {
    loop().setNow(ny(2026, 6, 10, 8, 0));
    const TriggerRule standup = fireAt("Standup", 540);
    services().triggerEngine().add(standup);
    loop().advance(50 * 60);
    // The crashed run's source goes quiet; the time passes; a new run's source starts.
    source().stop();
    loop().setNow(ny(2026, 6, 10, 9, 10));
    ScheduleTriggerSource restarted(
        sim().workspace(), sim().userDefaults(), sim().screenLock(), sim().powerAssertions(),
        ScheduleNeighbours{
            .engine = [this]() -> TriggerEngine& { return services().triggerEngine(); },
            .wakeHelper = [this]() -> WakeHelperClient& { return services().wakeHelper(); },
            .controller = [this]() -> OrvelController& { return services().controller(); },
            .drives = [this]() -> DriveKeepAlive& { return services().driveKeepAlive(); },
        });
    restarted.start(services().triggerEngine().rules());
    EXPECT_TRUE(controller().isActive());
    EXPECT_EQ(catchUpEntries(),
              std::vector<std::string>{
                  "info|Standup fired late|Caught up within the 30-minute grace window"});
    restarted.stop();
}

// A clock set ahead past a boundary is seen at once, not when the monotonic timer comes due.
TEST_F(ScheduleTriggerSourceTest, AClockSetPastABoundaryTicksAtOnce) {
    loop().setNow(ny(2026, 6, 10, 8, 0));
    TriggerRule work = window("Work", 540, 600);
    services().triggerEngine().add(work);
    sim().workspace().setClock(ny(2026, 6, 10, 9, 30));
    loop().drain();
    EXPECT_TRUE(source().activeNow.count(work.id));
    EXPECT_TRUE(controller().isActive());
}

}  // namespace
}  // namespace orvel

namespace orvel {
namespace {

class ScheduleLockTest : public ScheduleTriggerSourceTest {
  protected:
    static constexpr const char* kHoldName = "Orvel \u2014 hold lock screen until sign-in";

    // Display holds taken for the lock screen, still held.
    std::size_t lockHolds() {
        std::size_t n = 0;
        for (const auto& held : sim().powerAssertions().held()) {
            if (held.name == kHoldName) {
                EXPECT_EQ(held.type, "PreventUserIdleDisplaySleep");
                ++n;
            }
        }
        return n;
    }
    // A rule that fires at 09:00, found by a tick 10 s later.
    void fireAtNine(TriggerRule rule) {
        const Date nine = ny(2026, 6, 10, 9, 0);
        storeLastTick(nine - 10);
        loop().setNow(nine + 10);
        services().triggerEngine().add(rule);
        loop().drain();
    }
};

TEST_F(ScheduleLockTest, OnlyAFiringThatLeavesASessionStartedLocksTheScreen) {
    struct Case {
        TriggerAction onAppear;
        std::optional<bool> lockAtFire;
        bool locks;
    };
    const Case cases[] = {
        {TriggerAction::startSession, true, true},
        {TriggerAction::startSession, false, false},
        {TriggerAction::startSession, std::nullopt, false},
        {TriggerAction::endSession, true, false},
        {TriggerAction::nothing, true, false},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        TriggerRule rule = fireAt("Focus", 540);
        rule.onAppear = c.onAppear;
        rule.lockAtFire = c.lockAtFire;
        fireAtNine(rule);
        EXPECT_EQ(sim().screenLock().isLocked(), c.locks) << static_cast<int>(c.onAppear);
        EXPECT_EQ(lockHolds(), c.locks ? 1u : 0u) << static_cast<int>(c.onAppear);
    }
}

TEST_F(ScheduleLockTest, ASuppressedOrIgnoredFiringHasNoFollowUpWhileAnotherSessionRuns) {
    struct Case {
        const char* what;
        bool pause;
        bool acOnlyOnBattery;
        bool locks;
    };
    const Case cases[] = {
        {"a session already running", false, false, true},
        {"triggers paused", true, false, false},
        {"an AC-only rule on battery", false, true, false},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        controller().startForSeconds(std::nullopt);
        if (c.pause) {
            services().triggerEngine().pause(std::nullopt);
        }
        if (c.acOnlyOnBattery) {
            sim().powerSources().setOnAC(false);
        }
        TriggerRule rule = fireAt("Focus", 540);
        rule.lockAtFire = true;
        rule.acOnly = c.acOnlyOnBattery;
        fireAtNine(rule);
        if (c.pause) {
            // A pause stops the source; a tick that still runs (one already under way when the
            // pause began) reaches the engine, which suppresses the edge.
            storeLastTick(ny(2026, 6, 10, 9, 0) - 10);
            source().start(services().triggerEngine().rules());
            loop().drain();
        }
        ASSERT_TRUE(controller().isActive()) << c.what;
        EXPECT_EQ(sim().screenLock().isLocked(), c.locks) << c.what;
    }
}

TEST_F(ScheduleLockTest, TwoLocksBeforeSignInTakeOneHoldReleasedAtTheFirstUnlock) {
    TriggerRule first = fireAt("Focus", 540);
    first.lockAtFire = true;
    fireAtNine(first);
    source().lockScreenUntilSignIn();
    EXPECT_EQ(sim().screenLock().locks(), 2);
    EXPECT_EQ(lockHolds(), 1u);

    sim().screenLock().unlock();
    EXPECT_EQ(lockHolds(), 0u);
    EXPECT_FALSE(source().isHoldingLockScreen());
    sim().screenLock().unlock();
    EXPECT_EQ(sim().powerAssertions().events(SimPowerAssertions::EventKind::Released).size(), 1u);

    // A later lock holds the display again.
    source().lockScreenUntilSignIn();
    EXPECT_EQ(lockHolds(), 1u);
}

TEST_F(ScheduleLockTest, TheDisplayHoldDoesNotDependOnTheLockAndARefusedHoldKeepsNothing) {
    sim().screenLock().failNext("no lock screen");
    source().lockScreenUntilSignIn();
    EXPECT_FALSE(sim().screenLock().isLocked());
    EXPECT_EQ(lockHolds(), 1u);
    sim().screenLock().unlock();
    EXPECT_EQ(lockHolds(), 0u);

    sim().powerAssertions().refuseCreation(1, kIOReturnNotPermitted);
    source().lockScreenUntilSignIn();
    EXPECT_TRUE(sim().screenLock().isLocked());
    EXPECT_FALSE(source().isHoldingLockScreen());
    // The next lock tries the hold again.
    source().lockScreenUntilSignIn();
    EXPECT_EQ(lockHolds(), 1u);
}

}  // namespace
}  // namespace orvel
