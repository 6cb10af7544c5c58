#pragma once

#include <array>

#include "foundation/RawEnum.h"

namespace orvel {

// The global shortcut: the system-wide hot key, a custom shortcut, or none.
enum class HotKeyStyle { carbon, monitor, off };

template <>
struct EnumTraits<HotKeyStyle> {
    static constexpr std::array<EnumCase<HotKeyStyle>, 3> cases{{
        // The key is written as ui::shortcutText writes AppDelegate's hot key.
        {HotKeyStyle::carbon, "carbon", textKey("Meta+Ctrl+Alt+C \u2014 no permission needed")},
        {HotKeyStyle::monitor, "monitor",
         textKey("Custom shortcut \u2014 needs Input device control")},
        {HotKeyStyle::off, "off", textKey("No global shortcut")},
    }};
};

}  // namespace orvel
