#pragma once

#include <string>
#include <string_view>

#include "platform/PowerAssertions.h"

// What a refused power assertion means on this system, in words: the lock, the service that
// keeps it and why it could not be had, in the reader's language. No assertion names and no
// result codes: those are for the log. Threading: any thread that may read the catalogues.

namespace orvel {

// Why a lock keeping `type` awake could not be had (createWithName's status, or the code
// assertionRefused sent).
std::string powerLockFailure(std::string_view type, IOReturn code);

// Why the user could not be declared active (declareUserActivity's result).
std::string userActivityFailure(IOReturn code);

}  // namespace orvel
