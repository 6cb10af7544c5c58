#pragma once

#include <compare>
#include <cstdint>

namespace orvel {

// A point in time: seconds since 2001-01-01 00:00:00 UTC, the reference date of the stored formats.
struct Date {
    double secondsSinceReferenceDate = 0.0;

    // Seconds between the Unix epoch and the reference date.
    static constexpr double kUnixToReference = 978307200.0;
    // The "paused until re-enabled" sentinel: the first instant of the year 4001.
    static constexpr double kDistantFutureSeconds = 63113904000.0;

    static constexpr Date fromUnix(double unixSeconds) {
        return Date{unixSeconds - kUnixToReference};
    }
    static constexpr Date distantFuture() { return Date{kDistantFutureSeconds}; }

    constexpr double unixTime() const { return secondsSinceReferenceDate + kUnixToReference; }
    constexpr double timeIntervalSince(Date other) const {
        return secondsSinceReferenceDate - other.secondsSinceReferenceDate;
    }
    constexpr bool isDistantFuture() const {
        return secondsSinceReferenceDate >= kDistantFutureSeconds;
    }

    constexpr Date operator+(double seconds) const {
        return Date{secondsSinceReferenceDate + seconds};
    }
    constexpr Date operator-(double seconds) const {
        return Date{secondsSinceReferenceDate - seconds};
    }
    constexpr auto operator<=>(const Date&) const = default;
};

// Rounds to the nearest whole number with halves away from zero, saturating at the int64 range
// (NaN gives 0) so that a far deadline can never overflow a seconds count.
std::int64_t roundedSeconds(double seconds);

}  // namespace orvel
