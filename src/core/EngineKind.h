#pragma once

#include <array>

#include "foundation/RawEnum.h"

namespace orvel {

// Which sleep engine runs sessions.
enum class EngineKind { assertions, caffeinate };

template <>
struct EnumTraits<EngineKind> {
    static constexpr std::array<EnumCase<EngineKind>, 2> cases{{
        {EngineKind::assertions, "assertions", textKey("logind inhibitor locks (recommended)")},
        {EngineKind::caffeinate, "caffeinate", textKey("caffeinate command (compatibility mode)")},
    }};
};

}  // namespace orvel
