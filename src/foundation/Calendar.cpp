#include "foundation/Calendar.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace orvel {

LocalTime localTime(Date date) {
    const std::time_t seconds = static_cast<std::time_t>(std::floor(date.unixTime()));
    std::tm parts{};
    localtime_r(&seconds, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,    parts.tm_hour,
                     parts.tm_min,         parts.tm_sec,     parts.tm_wday + 1};
}

namespace {

std::tm brokenDown(Date date) {
    const std::time_t seconds = static_cast<std::time_t>(std::floor(date.unixTime()));
    std::tm parts{};
    localtime_r(&seconds, &parts);
    return parts;
}

// The local time in `parts` back to a date, letting the zone decide daylight saving; keeps the
// fraction of a second of `fraction`.
Date fromBrokenDown(std::tm parts, double fraction) {
    parts.tm_isdst = -1;
    return Date::fromUnix(static_cast<double>(std::mktime(&parts)) + fraction);
}

}  // namespace

Date startOfDay(Date date) {
    std::tm parts = brokenDown(date);
    parts.tm_hour = 0;
    parts.tm_min = 0;
    parts.tm_sec = 0;
    return fromBrokenDown(parts, 0.0);
}

Date addingDays(Date date, int days) {
    const double unix = date.unixTime();
    std::tm parts = brokenDown(date);
    parts.tm_mday += days;
    return fromBrokenDown(parts, unix - std::floor(unix));
}

std::string timeOfDayText(Date date) {
    const LocalTime t = localTime(date);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buffer;
}

}  // namespace orvel
