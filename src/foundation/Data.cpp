#include "foundation/Data.h"

namespace orvel {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int decodeChar(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}
}  // namespace

std::string base64Encode(const Data& data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t n = data[i] << 16 | data[i + 1] << 8 | data[i + 2];
        out += kAlphabet[n >> 18 & 63];
        out += kAlphabet[n >> 12 & 63];
        out += kAlphabet[n >> 6 & 63];
        out += kAlphabet[n & 63];
    }
    const std::size_t rest = data.size() - i;
    if (rest > 0) {
        std::uint32_t n = data[i] << 16;
        if (rest == 2) {
            n |= data[i + 1] << 8;
        }
        out += kAlphabet[n >> 18 & 63];
        out += kAlphabet[n >> 12 & 63];
        out += rest == 2 ? kAlphabet[n >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

bool base64Decode(std::string_view text, Data& out) {
    out.clear();
    if (text.size() % 4 != 0) {
        return false;
    }
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        int v[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=' && i + 4 == text.size() && k >= 2) {
                v[k] = 0;
                ++padding;
            } else if (padding > 0 || (v[k] = decodeChar(c)) < 0) {
                return false;
            }
        }
        const std::uint32_t n = v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3];
        out.push_back(static_cast<std::uint8_t>(n >> 16));
        if (padding < 2)
            out.push_back(static_cast<std::uint8_t>(n >> 8 & 0xFF));
        if (padding < 1)
            out.push_back(static_cast<std::uint8_t>(n & 0xFF));
    }
    return true;
}

}  // namespace orvel
