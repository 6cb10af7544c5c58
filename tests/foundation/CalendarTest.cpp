#include "foundation/Calendar.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace orvel {
namespace {

// Runs the case in a time zone with daylight saving, and puts UTC back.
class CalendarTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
    }
    void TearDown() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    static Date local(int year, int month, int day, int hour, int minute, int second) {
        std::tm parts{};
        parts.tm_year = year - 1900;
        parts.tm_mon = month - 1;
        parts.tm_mday = day;
        parts.tm_hour = hour;
        parts.tm_min = minute;
        parts.tm_sec = second;
        parts.tm_isdst = -1;
        return Date::fromUnix(static_cast<double>(std::mktime(&parts)));
    }
};

TEST_F(CalendarTest, StartOfDayIsLocalMidnight) {
    const Date noon = local(2026, 6, 10, 12, 34, 56) + 0.25;
    EXPECT_EQ(startOfDay(noon), local(2026, 6, 10, 0, 0, 0));
    EXPECT_EQ(localTime(startOfDay(noon)).hour, 0);
    EXPECT_EQ(startOfDay(local(2026, 6, 10, 0, 0, 0)), local(2026, 6, 10, 0, 0, 0));
}

TEST_F(CalendarTest, AddingDaysKeepsTheLocalTimeAcrossDaylightSaving) {
    struct Case {
        Date from;
        int days;
        Date to;
        double hours;  // between them
    };
    const Case cases[] = {
        {local(2026, 6, 10, 7, 59, 30), 1, local(2026, 6, 11, 7, 59, 30), 24},
        {local(2026, 3, 28, 22, 0, 0), 1, local(2026, 3, 29, 22, 0, 0), 23},    // spring forward
        {local(2026, 10, 24, 22, 0, 0), 1, local(2026, 10, 25, 22, 0, 0), 25},  // fall back
        {local(2026, 12, 31, 10, 0, 0), 1, local(2027, 1, 1, 10, 0, 0), 24},
        {local(2026, 3, 1, 10, 0, 0), -1, local(2026, 2, 28, 10, 0, 0), -24},
    };
    for (const auto& c : cases) {
        const Date result = addingDays(c.from, c.days);
        EXPECT_EQ(result, c.to);
        EXPECT_DOUBLE_EQ(result.timeIntervalSince(c.from), c.hours * 3600);
    }
    EXPECT_DOUBLE_EQ(addingDays(local(2026, 6, 10, 7, 0, 0) + 0.5, 1)
                         .timeIntervalSince(local(2026, 6, 11, 7, 0, 0)),
                     0.5)
        << "the fraction of a second is kept";
}

}  // namespace
}  // namespace orvel
