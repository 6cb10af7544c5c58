#pragma once

#include <string_view>

namespace orvel {

// Whether two UTF-8 texts are equal when case is ignored (Unicode case folding, whole texts).
bool equalIgnoringCase(std::string_view a, std::string_view b);

// Orders two UTF-8 texts as the user's language sorts names, ignoring case: negative when `a`
// comes first, zero when they sort together, positive otherwise.
int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b);

}  // namespace orvel
