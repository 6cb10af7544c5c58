#include "foundation/Calendar.h"

#include <algorithm>
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

namespace {

// Wall-clock fields compared as one number: later local times compare greater.
long long wallKey(const std::tm& t) {
    return ((((static_cast<long long>(t.tm_year) * 13 + t.tm_mon) * 32 + t.tm_mday) * 24 +
             t.tm_hour) *
                60 +
            t.tm_min) *
               60 +
           t.tm_sec;
}

long long wallKeyAt(std::time_t t) {
    std::tm parts{};
    localtime_r(&t, &parts);
    return wallKey(parts);
}

}  // namespace

std::optional<Date> dateBySettingTime(Date day, int hour, int minute) {
    std::tm wanted = brokenDown(day);
    wanted.tm_hour = hour;
    wanted.tm_min = minute;
    wanted.tm_sec = 0;
    const long long key = wallKey(wanted);
    // The same fields read as UTC, less each offset in force within a day of them: every
    // instant that shows these fields is among the candidates.
    const std::time_t asUtc = timegm(&wanted);
    if (asUtc == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    std::optional<std::time_t> first;
    std::time_t low = 0;
    std::time_t high = 0;
    bool haveBounds = false;
    for (const std::time_t probe : {asUtc - 86400, asUtc, asUtc + 86400}) {
        std::tm at{};
        localtime_r(&probe, &at);
        const std::time_t candidate = asUtc - at.tm_gmtoff;
        if (wallKeyAt(candidate) == key) {
            if (!first || candidate < *first) {
                first = candidate;
            }
        } else if (!haveBounds) {
            low = candidate;
            high = candidate;
            haveBounds = true;
        } else {
            low = std::min(low, candidate);
            high = std::max(high, candidate);
        }
    }
    if (first) {
        return Date::fromUnix(static_cast<double>(*first));
    }
    if (!haveBounds || low == high) {
        return std::nullopt;
    }
    // In a gap: the first instant whose wall clock is past the wanted time lies between the
    // two candidates.
    while (high - low > 1) {
        const std::time_t middle = low + (high - low) / 2;
        (wallKeyAt(middle) > key ? high : low) = middle;
    }
    return Date::fromUnix(static_cast<double>(high));
}

std::string timeOfDayText(Date date) {
    const LocalTime t = localTime(date);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buffer;
}

double secondsUntilNextDay(Date now, double sinceMidnight) {
    const Date target = startOfDay(addingDays(now, 1)) + sinceMidnight;
    return std::max(target.timeIntervalSince(now), 60.0);
}

}  // namespace orvel
