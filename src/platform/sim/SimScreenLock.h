#pragma once

#include <optional>
#include <string>

#include "platform/ScreenLock.h"

namespace orvel {

// A simulated screen lock: tests see whether the screen is locked, unlock it as the user would,
// and make the next lock fail.
class SimScreenLock final : public ScreenLock {
  public:
    Result<void> lockNow() override {
        if (nextFailure_) {
            Error error{std::move(*nextFailure_)};
            nextFailure_.reset();
            return error;
        }
        locked_ = true;
        ++locks_;
        return {};
    }

    // Control surface for tests.
    bool isLocked() const { return locked_; }
    int locks() const { return locks_; }
    // The user signs in again.
    void unlock() {
        locked_ = false;
        unlocked.send();
    }
    void failNext(std::string message) { nextFailure_ = std::move(message); }

  private:
    bool locked_ = false;
    int locks_ = 0;
    std::optional<std::string> nextFailure_;
};

}  // namespace orvel
