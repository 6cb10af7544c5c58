#include "foundation/DateFormatting.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace orvel {
namespace {

// 2026-12-08 09:00:00 UTC.
constexpr Date kDecember8 = Date{818413200.0};

class DateFormattingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override { setCurrentLocaleIdentifier(std::nullopt); }
};

TEST_F(DateFormattingTest, WritesDatesAndTimesTheLocalesWayWithPlainSpaces) {
    struct Case {
        const char* locale;
        std::string dateTime;
        std::string nineAM;
        std::string fivePM;
    };
    const Case cases[] = {
        {"en_US", "Dec 8, 2026 at 9:00 AM", "9:00 AM", "5:00 PM"},
        {"de_DE", "08.12.2026 um 09:00", "09:00", "17:00"},
        {"en_GB", "8 Dec 2026 at 09:00", "09:00", "17:00"},
    };
    for (const auto& c : cases) {
        setCurrentLocaleIdentifier(c.locale);
        EXPECT_EQ(mediumDateShortTimeText(kDecember8), c.dateTime) << c.locale;
        EXPECT_EQ(shortTimeText(9, 0), c.nineAM) << c.locale;
        EXPECT_EQ(shortTimeText(17, 0), c.fivePM) << c.locale;
    }
}

TEST_F(DateFormattingTest, TimesOfDayCarryOverLikeACalendar) {
    setCurrentLocaleIdentifier("en_US");
    EXPECT_EQ(shortTimeText(25, 0), "1:00 AM");
    EXPECT_EQ(shortTimeText(0, -30), "11:30 PM");
    EXPECT_EQ(shortTimeText(7, 30), "7:30 AM");
}

TEST_F(DateFormattingTest, DatesFollowTheProcessTimeZone) {
    setCurrentLocaleIdentifier("en_US");
    setenv("TZ", "America/New_York", 1);
    tzset();
    EXPECT_EQ(mediumDateShortTimeText(kDecember8), "Dec 8, 2026 at 4:00 AM");
}

TEST_F(DateFormattingTest, TheLocaleComesFromTheEnvironmentUnlessPinned) {
    struct Case {
        const char* lcAll;
        const char* lang;
        std::string expected;
    };
    const Case cases[] = {
        {"", "de_DE.UTF-8", "de_DE"},
        {"fr_FR.UTF-8@euro", "de_DE.UTF-8", "fr_FR"},
        {"C", "de_DE.UTF-8", "en_US"},
        {"", "", "en_US"},
    };
    const char* saved = std::getenv("LC_TIME");
    const std::string savedTime = saved != nullptr ? saved : "";
    unsetenv("LC_TIME");
    for (const auto& c : cases) {
        setenv("LC_ALL", c.lcAll, 1);
        setenv("LANG", c.lang, 1);
        EXPECT_EQ(currentLocaleIdentifier(), c.expected) << c.lcAll << " / " << c.lang;
    }
    setCurrentLocaleIdentifier("ja_JP");
    EXPECT_EQ(currentLocaleIdentifier(), "ja_JP");
    unsetenv("LC_ALL");
    unsetenv("LANG");
    if (saved != nullptr) {
        setenv("LC_TIME", savedTime.c_str(), 1);
    }
}

TEST_F(DateFormattingTest, ShortWeekdayNamesStartWithSunday) {
    setCurrentLocaleIdentifier("en_US");
    EXPECT_EQ(shortWeekdaySymbols(),
              (std::vector<std::string>{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"}));
    setCurrentLocaleIdentifier("de_DE");
    EXPECT_EQ(shortWeekdaySymbols().front(), "So.");
}

}  // namespace
}  // namespace orvel
