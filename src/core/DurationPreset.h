#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "foundation/RawEnum.h"

namespace orvel {

// How long a session lasts.
enum class DurationPreset { indefinite, m15, m30, h1, h2, h5, custom, untilAppQuits };

template <>
struct EnumTraits<DurationPreset> {
    static constexpr std::array<EnumCase<DurationPreset>, 8> cases{{
        {DurationPreset::indefinite, "indefinite", textKey("Indefinitely")},
        {DurationPreset::m15, "m15", textKey("15 minutes")},
        {DurationPreset::m30, "m30", textKey("30 minutes")},
        {DurationPreset::h1, "h1", textKey("1 hour")},
        {DurationPreset::h2, "h2", textKey("2 hours")},
        {DurationPreset::h5, "h5", textKey("5 hours")},
        {DurationPreset::custom, "custom", textKey("Custom\u2026")},
        {DurationPreset::untilAppQuits, "untilAppQuits", textKey("Until an app quits\u2026")},
    }};
};

// The fixed length of a preset in seconds; nothing for the presets without a fixed length
// (indefinite, custom, until an app quits).
constexpr std::optional<std::int64_t> fixedSeconds(DurationPreset preset) {
    switch (preset) {
        case DurationPreset::m15:
            return 900;
        case DurationPreset::m30:
            return 1800;
        case DurationPreset::h1:
            return 3600;
        case DurationPreset::h2:
            return 7200;
        case DurationPreset::h5:
            return 18000;
        default:
            return std::nullopt;
    }
}

}  // namespace orvel
