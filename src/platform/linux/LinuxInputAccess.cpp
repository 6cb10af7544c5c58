#include "platform/linux/LinuxInputAccess.h"

#include "foundation/Log.h"

namespace orvel {

void LinuxPermissions::requestListenEventAccess() {
    Logger("permissions").notice("Watching input devices is not available on this system yet.");
}

bool LinuxPermissions::requestAccessibility() {
    Logger("permissions").notice("Silencing input devices is not available on this system yet.");
    return false;
}

}  // namespace orvel
