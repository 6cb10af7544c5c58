#include "devices/BuiltInDisplay.h"

#include "foundation/Registry.h"

namespace orvel {

BuiltInDisplay& BuiltInDisplay::shared() {
    return ORVEL_SHARED_INSTANCE(BuiltInDisplay);
}

std::optional<std::uint32_t> BuiltInDisplay::builtInDisplayID() {
    return shared().online_;
}

}  // namespace orvel
