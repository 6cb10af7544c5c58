#pragma once

#include <optional>
#include <string>

#include "foundation/Date.h"

namespace orvel {

// A date broken down in the user's time zone (the process's TZ).
struct LocalTime {
    int year = 0;
    int month = 0;    // 1…12
    int day = 0;      // 1…31
    int hour = 0;     // 0…23
    int minute = 0;   // 0…59
    int second = 0;   // 0…60
    int weekday = 0;  // 1 = Sunday … 7 = Saturday
};

LocalTime localTime(Date date);

// Midnight at the start of the day that holds `date`, in the user's time zone.
Date startOfDay(Date date);
// The same time of day `days` calendar days later (earlier when negative), in the user's time
// zone: across a daylight-saving change the result is not a multiple of 24 hours away.
Date addingDays(Date date, int days);

// Seconds from `now` to the start of the next calendar day plus `sinceMidnight` seconds, never
// less than a minute. The seconds after midnight are elapsed time, so across a clock change the
// wall clock then reads an hour more or less.
double secondsUntilNextDay(Date now, double sinceMidnight);

// The time `hour`:`minute`:00 on the local day that holds `day`. A time that the day skips
// (a spring-forward gap) becomes the first time that exists after the gap; a time the day
// has twice (fall back) is its first occurrence. Nothing when the day cannot be computed.
std::optional<Date> dateBySettingTime(Date day, int hour, int minute);

// The time of day as "HH:mm:ss" (24-hour) in the user's time zone.
std::string timeOfDayText(Date date);

}  // namespace orvel
