#include "foundation/Iso8601.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace orvel {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool readDigits(std::string_view text, std::size_t& at, std::size_t count, int& out) {
    if (at + count > text.size()) {
        return false;
    }
    out = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9') {
            return false;
        }
        out = out * 10 + (c - '0');
    }
    at += count;
    return true;
}

bool expect(std::string_view text, std::size_t& at, char c) {
    if (at < text.size() && text[at] == c) {
        ++at;
        return true;
    }
    return false;
}

// 0000-01-01T00:00:00Z and 9999-12-31T23:59:59Z, in seconds since 1970: what four digits of
// year can write.
constexpr std::int64_t kFirst = -62167219200;
constexpr std::int64_t kLast = 253402300799;

}  // namespace

std::string iso8601Text(Date date) {
    double seconds = std::floor(date.unixTime());
    if (!(seconds >= static_cast<double>(kFirst))) {
        seconds = static_cast<double>(kFirst);
    } else if (seconds > static_cast<double>(kLast)) {
        seconds = static_cast<double>(kLast);
    }
    const auto unix = static_cast<std::int64_t>(seconds);
    std::int64_t days = unix / 86400;
    std::int64_t rest = unix % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    std::int64_t y = 0;
    unsigned m = 0;
    unsigned d = 0;
    civilFromDays(days, y, m, d);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(y), m, d, static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return buffer;
}

std::optional<Date> parseIso8601(std::string_view text) {
    std::size_t at = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(text, at, 4, year) || !expect(text, at, '-') ||
        !readDigits(text, at, 2, month) || !expect(text, at, '-') ||
        !readDigits(text, at, 2, day) || !expect(text, at, 'T') || !readDigits(text, at, 2, hour) ||
        !expect(text, at, ':') || !readDigits(text, at, 2, minute) || !expect(text, at, ':') ||
        !readDigits(text, at, 2, second)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return std::nullopt;
    }
    int offset = 0;
    if (expect(text, at, 'Z')) {
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const int sign = text[at] == '-' ? -1 : 1;
        ++at;
        int oh = 0, om = 0;
        if (!readDigits(text, at, 2, oh) || !expect(text, at, ':') ||
            !readDigits(text, at, 2, om) || oh > 23 || om > 59) {
            return std::nullopt;
        }
        offset = sign * (oh * 3600 + om * 60);
    } else {
        return std::nullopt;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    const std::int64_t days =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const std::int64_t unix = days * 86400 + hour * 3600 + minute * 60 + second - offset;
    // An offset can carry the first or last day past what can be written back.
    if (unix < kFirst || unix > kLast) {
        return std::nullopt;
    }
    return Date::fromUnix(static_cast<double>(unix));
}

}  // namespace orvel
