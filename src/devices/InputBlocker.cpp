#include "devices/InputBlocker.h"

#include "foundation/Registry.h"

namespace orvel {

InputBlocker& InputBlocker::shared() {
    return ORVEL_SHARED_INSTANCE(InputBlocker);
}

KeyboardBacklight& KeyboardBacklight::shared() {
    return ORVEL_SHARED_INSTANCE(KeyboardBacklight);
}

}  // namespace orvel
