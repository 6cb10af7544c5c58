#pragma once

#include <string>
#include <string_view>

namespace orvel {

// A short, stable pseudonym of a text for reports with names obfuscated: "id-" and the
// lower-case hexadecimal of the djb2 hash of the UTF-8 bytes, modulo 65535.
std::string redactedIdentifier(std::string_view text);

}  // namespace orvel
