#pragma once

#include "foundation/Result.h"
#include "foundation/Signal.h"

// Locking the screen so that the user must sign in again. Threading: main thread only; the
// signal is sent on the main thread.

namespace orvel {

class ScreenLock {
  public:
    virtual ~ScreenLock() = default;

    // Locks the screen at once. The error says in words why it could not be asked for; a lock
    // refused later leaves one log line.
    virtual Result<void> lockNow() = 0;

    // The user has signed in again: the screen is unlocked.
    Signal<> unlocked;
};

}  // namespace orvel
