#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Whole numbers written and read for people, in the locale of foundation/DateFormatting.h (ICU).
// Any thread.

namespace orvel {

// A whole number grouped as the locale writes it: "1,000" in US English, "1.000" in German,
// "1 000" in French (with the locale's own space, a narrow no-break one).
std::string integerText(std::int64_t value);

// The number a person typed: what integerText writes, or plain digits, with a leading minus
// and spaces around it. Anything else (other text, a fraction, separators out of place, a
// number beyond 64 bits) reads as nothing. Any space stands for the locale's space separator
// and a straight apostrophe for a curly one, since a keyboard types only the plain ones.
std::optional<std::int64_t> parseInteger(std::string_view text);

}  // namespace orvel
