#include "core/RedactedIdentifier.h"

#include <cstdint>
#include <cstdio>

namespace orvel {

std::string redactedIdentifier(std::string_view text) {
    std::uint64_t hash = 5381;
    for (const char c : text) {
        hash = hash * 33 + static_cast<unsigned char>(c);
    }
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "id-%llx", static_cast<unsigned long long>(hash % 65535));
    return buffer;
}

}  // namespace orvel
