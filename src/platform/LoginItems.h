#pragma once

#include "foundation/Result.h"

// Starting Orvel when the user logs in. Threading: main thread only.

namespace orvel {

// status() values, as the platform's service-management status numbers them.
namespace login_item_status {
inline constexpr int kNotRegistered = 0;
inline constexpr int kEnabled = 1;
// Registered, but the user switched it off in the system's settings.
inline constexpr int kRequiresApproval = 2;
// Registered, but what it would start cannot be found.
inline constexpr int kNotFound = 3;
}  // namespace login_item_status

class LoginItems {
  public:
    virtual ~LoginItems() = default;

    virtual int status() = 0;
    // Starts Orvel at every login from now on; the error says in words why it could not.
    virtual Result<void> registerItem() = 0;
    // Stops starting Orvel at login; succeeds when it was not registered.
    virtual Result<void> unregisterItem() = 0;
};

}  // namespace orvel
