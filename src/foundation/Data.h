#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvel {

// Raw bytes (stored records, file contents).
using Data = std::vector<std::uint8_t>;

inline Data dataFromString(std::string_view text) {
    return Data(text.begin(), text.end());
}
inline std::string stringFromData(const Data& data) {
    return std::string(data.begin(), data.end());
}
// The bytes as text without a copy, for reading large files; valid while `data` is unchanged.
inline std::string_view viewOfData(const Data& data) {
    return {reinterpret_cast<const char*>(data.data()), data.size()};
}

// Whether the text is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUTF8(std::string_view text);
// The text with each byte that starts no valid character replaced by U+FFFD.
std::string replacingInvalidUTF8(std::string_view text);

// Standard base64 with padding; decoding ignores nothing and fails on any stray character.
std::string base64Encode(const Data& data);
bool base64Decode(std::string_view text, Data& out);

}  // namespace orvel
