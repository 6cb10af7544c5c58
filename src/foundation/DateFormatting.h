#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Date.h"

// Dates, times and percentages written for people, in the user's locale (ICU) and time zone (the
// process's TZ). Any thread.

namespace orvel {

// The locale of dates and times: the one set here, else LC_ALL, LC_TIME or LANG
// ("de_DE.UTF-8" gives "de_DE"), else "en_US".
std::string currentLocaleIdentifier();
// Pins the locale (tests, or a user's choice); nothing goes back to the environment's.
void setCurrentLocaleIdentifier(std::optional<std::string> identifier);

// The medium date and the short time joined the locale's way: "Dec 8, 2026 at 9:00 AM" in US
// English. Spaces are plain spaces.
std::string mediumDateShortTimeText(Date date);
// A time of day in the short style: "9:00 AM" in US English, "17:00" in a 24-hour locale. An
// hour or minute out of range carries over, as a calendar would (25:00 is 1:00 AM).
std::string shortTimeText(int hour, int minute);
// The date in the locale's best form for a template of fields ("MMMd jmm": "Dec 8, 9:00 AM"
// in US English); empty when the locale has no such form.
std::string templateDateText(Date date, std::string_view skeleton);
// The time of day of a date, in the short style and the user's time zone. Dates beyond any
// calendar (a duration near the 64-bit limit away) read as the nearest one that has one.
std::string shortTimeText(Date date);
// The short weekday names, Sunday first ("Sun", "Mon", … in English).
std::vector<std::string> shortWeekdaySymbols();
// The very short standalone weekday names, Sunday first ("S", "M", "T", … in English).
std::vector<std::string> veryShortStandaloneWeekdaySymbols();
// A fraction as a whole percentage, the locale's way: "100%" in US English, "100 %" in German.
std::string percentText(double fraction);

}  // namespace orvel
