#include "foundation/DateFormatting.h"

#include <unicode/datefmt.h>
#include <unicode/dtfmtsym.h>
#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/ures.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "foundation/Calendar.h"

namespace orvel {

namespace {

std::mutex& localeMutex() {
    static std::mutex mutex;
    return mutex;
}

std::optional<std::string>& pinnedLocale() {
    static std::optional<std::string> pinned;
    return pinned;
}

std::string fromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        std::string id(value);
        id = id.substr(0, id.find_first_of(".@"));
        if (id.empty() || id == "C" || id == "POSIX") {
            break;
        }
        return id;
    }
    return "en_US";
}

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    // Narrow and ordinary no-break spaces read as plain spaces.
    std::string plain;
    plain.reserve(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out.compare(i, 3, "\u202F") == 0) {
            plain += ' ';
            i += 2;
        } else if (out.compare(i, 2, "\u00A0") == 0) {
            plain += ' ';
            i += 1;
        } else {
            plain += out[i];
        }
    }
    return plain;
}

// The locale's pattern that joins a date and a time with a word ("{1} 'at' {0}"), if it has one.
std::optional<icu::UnicodeString> atTimePattern(std::string id) {
    while (!id.empty()) {
        UErrorCode status = U_ZERO_ERROR;
        UResourceBundle* bundle = ures_open(nullptr, id.c_str(), &status);
        UResourceBundle* calendar = ures_getByKey(bundle, "calendar", nullptr, &status);
        UResourceBundle* gregorian = ures_getByKey(calendar, "gregorian", nullptr, &status);
        UResourceBundle* patterns =
            ures_getByKey(gregorian, "DateTimePatterns%atTime", nullptr, &status);
        std::optional<icu::UnicodeString> found;
        if (U_SUCCESS(status) && ures_getSize(patterns) >= 2) {
            int32_t length = 0;
            // The long length: the medium one of current data joins with a comma.
            const UChar* text = ures_getStringByIndex(patterns, 1, &length, &status);
            if (U_SUCCESS(status)) {
                found = icu::UnicodeString(text, length);
            }
        }
        ures_close(patterns);
        ures_close(gregorian);
        ures_close(calendar);
        ures_close(bundle);
        if (found) {
            return found;
        }
        const auto cut = id.find_last_of('_');
        id = cut == std::string::npos ? std::string() : id.substr(0, cut);
    }
    return std::nullopt;
}

// "{1}" takes the date, "{0}" the time; quoted text stands as it is.
icu::UnicodeString join(const icu::UnicodeString& pattern, const icu::UnicodeString& date,
                        const icu::UnicodeString& time) {
    icu::UnicodeString out;
    bool quoted = false;
    for (int32_t i = 0; i < pattern.length(); ++i) {
        const UChar c = pattern.charAt(i);
        if (c == u'\'') {
            if (i + 1 < pattern.length() && pattern.charAt(i + 1) == u'\'') {
                out += c;
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (!quoted && c == u'{' && i + 2 < pattern.length() &&
                   pattern.charAt(i + 2) == u'}') {
            out += pattern.charAt(i + 1) == u'1' ? date : time;
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// Formatters of one locale, made once per thread: making them costs far more than using them.
struct Formatters {
    std::unique_ptr<icu::DateFormat> date;
    std::unique_ptr<icu::DateFormat> time;
    std::unique_ptr<icu::DateFormat> dateTime;
    std::optional<icu::UnicodeString> atTime;
    std::vector<std::string> weekdays;
    std::vector<std::string> narrowWeekdays;
};

Formatters& formatters() {
    thread_local std::map<std::string, Formatters> cache;
    const std::string id = currentLocaleIdentifier();
    auto it = cache.find(id);
    if (it != cache.end()) {
        return it->second;
    }
    const icu::Locale locale(id.c_str());
    Formatters f;
    // Wall-clock values are computed in the process's time zone and written as if in UTC.
    const std::unique_ptr<icu::TimeZone> utc(icu::TimeZone::createTimeZone("UTC"));
    f.date.reset(icu::DateFormat::createDateInstance(icu::DateFormat::kMedium, locale));
    f.time.reset(icu::DateFormat::createTimeInstance(icu::DateFormat::kShort, locale));
    f.dateTime.reset(icu::DateFormat::createDateTimeInstance(icu::DateFormat::kMedium,
                                                             icu::DateFormat::kShort, locale));
    for (auto* format : {f.date.get(), f.time.get(), f.dateTime.get()}) {
        if (format != nullptr) {
            format->setTimeZone(*utc);
        }
    }
    f.atTime = atTimePattern(id);
    UErrorCode status = U_ZERO_ERROR;
    icu::DateFormatSymbols symbols(locale, status);
    int32_t count = 0;
    const icu::UnicodeString* names = symbols.getShortWeekdays(count);
    // ICU's list starts with an empty entry, then Sunday.
    for (int32_t i = 1; U_SUCCESS(status) && i < count; ++i) {
        f.weekdays.push_back(toUtf8(names[i]));
    }
    if (f.weekdays.size() != 7) {
        f.weekdays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    }
    status = U_ZERO_ERROR;
    const icu::UnicodeString* narrow = symbols.getWeekdays(
        count, icu::DateFormatSymbols::STANDALONE, icu::DateFormatSymbols::NARROW);
    for (int32_t i = 1; U_SUCCESS(status) && narrow != nullptr && i < count; ++i) {
        f.narrowWeekdays.push_back(toUtf8(narrow[i]));
    }
    if (f.narrowWeekdays.size() != 7) {
        f.narrowWeekdays = {"S", "M", "T", "W", "T", "F", "S"};
    }
    return cache.emplace(id, std::move(f)).first->second;
}

// Milliseconds of a UTC instant that carries the given wall-clock values.
double wallClockMillis(const LocalTime& t) {
    // Days from civil (proleptic Gregorian).
    long long y = t.year;
    const unsigned m = static_cast<unsigned>(t.month);
    const unsigned d = static_cast<unsigned>(t.day);
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days = era * 146097 + static_cast<long long>(doe) - 719468;
    const long long seconds = days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    return static_cast<double>(seconds) * 1000.0;
}

}  // namespace

std::string currentLocaleIdentifier() {
    {
        std::lock_guard lock(localeMutex());
        if (pinnedLocale()) {
            return *pinnedLocale();
        }
    }
    return fromEnvironment();
}

void setCurrentLocaleIdentifier(std::optional<std::string> identifier) {
    std::lock_guard lock(localeMutex());
    pinnedLocale() = std::move(identifier);
}

std::string mediumDateShortTimeText(Date date) {
    Formatters& f = formatters();
    const double millis = wallClockMillis(localTime(date));
    if (f.date && f.time && f.atTime) {
        icu::UnicodeString day;
        icu::UnicodeString time;
        f.date->format(millis, day);
        f.time->format(millis, time);
        return toUtf8(join(*f.atTime, day, time));
    }
    icu::UnicodeString out;
    if (f.dateTime) {
        f.dateTime->format(millis, out);
    }
    return toUtf8(out);
}

std::string shortTimeText(int hour, int minute) {
    Formatters& f = formatters();
    const double millis = (static_cast<double>(hour) * 3600.0 + minute * 60.0) * 1000.0;
    icu::UnicodeString out;
    if (f.time) {
        f.time->format(millis, out);
    }
    return toUtf8(out);
}

std::string templateDateText(Date date, std::string_view skeleton) {
    const icu::Locale locale(currentLocaleIdentifier().c_str());
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(locale, status));
    if (U_FAILURE(status)) {
        return {};
    }
    const icu::UnicodeString pattern =
        generator->getBestPattern(icu::UnicodeString::fromUTF8(icu::StringPiece(
                                      skeleton.data(), static_cast<int32_t>(skeleton.size()))),
                                  status);
    icu::SimpleDateFormat format(pattern, locale, status);
    if (U_FAILURE(status)) {
        return {};
    }
    const std::unique_ptr<icu::TimeZone> utc(icu::TimeZone::createTimeZone("UTC"));
    format.setTimeZone(*utc);
    icu::UnicodeString out;
    format.format(wallClockMillis(localTime(date)), out);
    return toUtf8(out);
}

std::string shortTimeText(Date date) {
    // About ±30 million years: inside both time_t and the broken-down year.
    constexpr double kLimit = 1e15;
    const double unix =
        std::isnan(date.unixTime()) ? 0 : std::clamp(date.unixTime(), -kLimit, kLimit);
    const LocalTime local = localTime(Date::fromUnix(unix));
    return shortTimeText(local.hour, local.minute);
}

std::vector<std::string> shortWeekdaySymbols() {
    return formatters().weekdays;
}

std::vector<std::string> veryShortStandaloneWeekdaySymbols() {
    return formatters().narrowWeekdays;
}

std::string percentText(double fraction) {
    const icu::Locale locale(currentLocaleIdentifier().c_str());
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::NumberFormat> format(
        icu::NumberFormat::createPercentInstance(locale, status));
    const long whole = std::lround(fraction * 100);
    if (U_FAILURE(status)) {
        return std::to_string(whole) + "%";
    }
    icu::UnicodeString out;
    format->format(static_cast<int32_t>(whole) / 100.0, out);
    return toUtf8(out);
}

}  // namespace orvel
