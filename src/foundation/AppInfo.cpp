#include "foundation/AppInfo.h"

namespace orvel {

const char* appVersion() {
    return ORVEL_VERSION;
}
const char* appBuild() {
    return ORVEL_BUILD;
}

}  // namespace orvel
