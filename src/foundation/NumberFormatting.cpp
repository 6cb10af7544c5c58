#include "foundation/NumberFormatting.h"

#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

#include <map>
#include <memory>

#include "foundation/DateFormatting.h"

namespace orvel {

namespace {

// One formatter per locale and thread: making one costs far more than using it.
icu::NumberFormat* integerFormat() {
    thread_local std::map<std::string, std::unique_ptr<icu::NumberFormat>> cache;
    const std::string id = currentLocaleIdentifier();
    auto it = cache.find(id);
    if (it == cache.end()) {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::NumberFormat> format(
            icu::NumberFormat::createInstance(icu::Locale(id.c_str()), status));
        if (U_FAILURE(status)) {
            format.reset();
        }
        it = cache.emplace(id, std::move(format)).first;
    }
    return it->second.get();
}

// The text with every kind of space as a plain one, the minus sign as a hyphen, the Swiss
// apostrophe as a straight one, direction marks dropped, digits of any script as ASCII ones, and no
// spaces around it: what a person typed and what the locale writes compare equal when they read the
// same.
std::string canonical(const icu::UnicodeString& text) {
    std::string out;
    for (int32_t i = 0; i < text.length(); i += U16_LENGTH(text.char32At(i))) {
        const UChar32 c = text.char32At(i);
        if (u_isUWhiteSpace(c)) {
            out += ' ';
        } else if (c == 0x2212) {
            out += '-';
        } else if (c == 0x2019) {
            out += '\'';
        } else if (u_charType(c) == U_FORMAT_CHAR) {
            continue;
        } else if (u_charType(c) == U_DECIMAL_DIGIT_NUMBER) {
            out += static_cast<char>('0' + u_charDigitValue(c));
        } else {
            icu::UnicodeString(c).toUTF8String(out);
        }
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string integerText(std::int64_t value) {
    icu::NumberFormat* format = integerFormat();
    if (format == nullptr) {
        return std::to_string(value);
    }
    icu::UnicodeString out;
    format->format(static_cast<int64_t>(value), out);
    std::string text;
    out.toUTF8String(text);
    return text;
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
    const std::string typed = canonical(icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size()))));
    const bool negative = !typed.empty() && typed.front() == '-';
    std::int64_t value = 0;
    bool digits = false;
    bool separators = false;
    for (std::size_t i = negative ? 1 : 0; i < typed.size(); ++i) {
        const char c = typed[i];
        if (c < '0' || c > '9') {
            separators = true;
            continue;
        }
        // Built downwards when negative, so the most negative number fits too.
        const int digit = negative ? -(c - '0') : c - '0';
        if (__builtin_mul_overflow(value, 10, &value) ||
            __builtin_add_overflow(value, digit, &value)) {
            return std::nullopt;
        }
        digits = true;
    }
    if (!digits) {
        return std::nullopt;
    }
    // Anything besides the digits must sit exactly where the locale puts it.
    if (separators && typed != canonical(icu::UnicodeString::fromUTF8(integerText(value)))) {
        return std::nullopt;
    }
    return value;
}

}  // namespace orvel
