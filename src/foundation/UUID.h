#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orvel {

// A 128-bit identifier. Text form: 8-4-4-4-12 hexadecimal digits, upper case.
struct UUID {
    std::array<std::uint8_t, 16> bytes{};

    // A random (version 4) identifier. Thread-safe.
    static UUID random();
    // Parses the 36-character text form in either case; nothing for anything else.
    static std::optional<UUID> fromString(std::string_view text);

    std::string uuidString() const;

    auto operator<=>(const UUID&) const = default;
};

}  // namespace orvel

template <>
struct std::hash<orvel::UUID> {
    std::size_t operator()(const orvel::UUID& id) const noexcept;
};
