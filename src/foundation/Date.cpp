#include "foundation/Date.h"

#include <cmath>
#include <limits>

namespace orvel {

std::int64_t roundedSeconds(double seconds) {
    if (std::isnan(seconds)) {
        return 0;
    }
    const double rounded = std::round(seconds);
    // 2^63 is exactly representable; anything at or beyond it saturates.
    constexpr double kLimit = 9223372036854775808.0;
    if (rounded >= kLimit) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (rounded < -kLimit) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(rounded);
}

}  // namespace orvel
