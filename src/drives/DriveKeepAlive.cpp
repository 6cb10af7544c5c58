#include "drives/DriveKeepAlive.h"

#include "foundation/Registry.h"

namespace orvel {

DriveKeepAlive& DriveKeepAlive::shared() {
    return ORVEL_SHARED_INSTANCE(DriveKeepAlive);
}

}  // namespace orvel
