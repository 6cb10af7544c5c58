#pragma once

#include <optional>
#include <string>

#include "platform/LoginItems.h"

namespace orvel {

// Simulated login items: registering enables, unregistering clears; tests set the status the
// user left behind and make the next change fail.
class SimLoginItems final : public LoginItems {
  public:
    int status() override { return status_; }
    Result<void> registerItem() override;
    Result<void> unregisterItem() override;

    // Control surface for tests.
    void setStatus(int status) { status_ = status; }
    // The next registerItem() or unregisterItem() fails with this message.
    void failNext(std::string message) { nextFailure_ = std::move(message); }
    int registrations() const { return registrations_; }
    int unregistrations() const { return unregistrations_; }

  private:
    std::optional<Error> takeFailure();

    int status_ = login_item_status::kNotRegistered;
    std::optional<std::string> nextFailure_;
    int registrations_ = 0;
    int unregistrations_ = 0;
};

}  // namespace orvel
