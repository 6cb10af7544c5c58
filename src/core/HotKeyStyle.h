#pragma once

#include <array>

#include "foundation/RawEnum.h"

namespace orvel {

// The global shortcut: the system-wide hot key, a custom shortcut, or none.
enum class HotKeyStyle { carbon, monitor, off };

template <>
struct EnumTraits<HotKeyStyle> {
    static constexpr std::array<EnumCase<HotKeyStyle>, 3> cases{{
        {HotKeyStyle::carbon, "carbon", "\u2303\u2325\u2318C \u2014 no permission needed"},
        {HotKeyStyle::monitor, "monitor", "Custom shortcut \u2014 needs Accessibility"},
        {HotKeyStyle::off, "off", "No global shortcut"},
    }};
};

}  // namespace orvel
