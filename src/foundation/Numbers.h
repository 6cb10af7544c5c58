#pragma once

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <system_error>
#include <type_traits>

// Numbers read from text that files, the kernel and command lines write. Threading: any thread.

namespace orvel {

// All of `text` as a number: integers in `base`, floating point in plain or exponent notation.
// Nothing when it is empty, has anything besides the number (blanks, a '+', a trailing unit),
// does not fit T, or is not finite. The locale plays no part.
template <class T>
std::optional<T> parseNumber(std::string_view text, int base = 10) {
    T value{};
    const char* const end = text.data() + text.size();
    std::from_chars_result result{};
    if constexpr (std::is_floating_point_v<T>) {
        (void)base;
        result = std::from_chars(text.data(), end, value);
    } else {
        result = std::from_chars(text.data(), end, value, base);
    }
    if (result.ec != std::errc() || result.ptr != end) {
        return std::nullopt;
    }
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(value)) {
            return std::nullopt;
        }
    }
    return value;
}

}  // namespace orvel
