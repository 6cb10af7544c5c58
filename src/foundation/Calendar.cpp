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

std::string timeOfDayText(Date date) {
    const LocalTime t = localTime(date);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buffer;
}

}  // namespace orvel
