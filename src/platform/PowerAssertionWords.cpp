#include "platform/PowerAssertionWords.h"

#include "foundation/Localization.h"

namespace orvel {

// The display is held by the screen saver; everything else by logind. Whole sentences, so each
// language words the service and its answer together.
std::string powerLockFailure(std::string_view type, IOReturn code) {
    if (type == assertion_type::kPreventUserIdleDisplaySleep) {
        switch (code) {
            case kIOReturnUnsupported:
                return localized(
                    "Could not take the screen saver's inhibit: the screen saver is not running "
                    "on this system.");
            case kIOReturnNotPermitted:
                return localized(
                    "Could not take the screen saver's inhibit: the screen saver denied it to "
                    "this user.");
            case kIOReturnNotReady:
                return localized(
                    "Could not take the screen saver's inhibit: the screen saver did not answer.");
            case kIOReturnBadArgument:
                return localized(
                    "Could not take the screen saver's inhibit: this system cannot hold that "
                    "kind of lock.");
            default:
                return localized(
                    "Could not take the screen saver's inhibit: the screen saver refused it.");
        }
    }
    switch (code) {
        case kIOReturnUnsupported:
            return localized(
                "Could not take a logind inhibitor lock: logind is not running on this system.");
        case kIOReturnNotPermitted:
            return localized(
                "Could not take a logind inhibitor lock: logind denied it to this user.");
        case kIOReturnNotReady:
            return localized("Could not take a logind inhibitor lock: logind did not answer.");
        case kIOReturnBadArgument:
            return localized(
                "Could not take a logind inhibitor lock: this system cannot hold that kind of "
                "lock.");
        default:
            return localized("Could not take a logind inhibitor lock: logind refused it.");
    }
}

// The user is declared active through the screen saver, as an input event would.
std::string userActivityFailure(IOReturn code) {
    switch (code) {
        case kIOReturnUnsupported:
            return localized(
                "Could not declare the user active: the screen saver is not running on this "
                "system.");
        case kIOReturnNotReady:
            return localized("Could not declare the user active: the screen saver did not answer.");
        default:
            return localized("Could not declare the user active: the screen saver refused it.");
    }
}

}  // namespace orvel
