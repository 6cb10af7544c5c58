#pragma once

#include <string>
#include <string_view>

namespace orvel {

// Whether two UTF-8 texts are equal when case is ignored (Unicode case folding, whole texts).
bool equalIgnoringCase(std::string_view a, std::string_view b);

// Orders two UTF-8 texts as the user's language sorts names, ignoring case: negative when `a`
// comes first, zero when they sort together, positive otherwise.
int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b);

// Whether `text` holds `query` as one run, ignoring case by the rules of the current locale
// (a Turkish dotless ı stays apart from i); accents count, so "e" does not find "é".
// Canonically equivalent spellings match. An empty query is found everywhere.
bool localizedCaseInsensitiveContains(std::string_view text, std::string_view query);

// The text in Unicode's canonical composed form (NFC); the text itself when it is not UTF-8.
std::string composedText(std::string_view text);

// Orders texts code point by code point after canonical composition: true when `a` comes first.
bool composedLess(std::string_view a, std::string_view b);

// The text without tabs and horizontal space separators (Unicode Zs: spaces, no-break spaces)
// at either end; line breaks stay.
std::string trimmingHorizontalWhitespace(std::string_view text);

}  // namespace orvel
