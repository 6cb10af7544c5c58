#pragma once

#include <optional>
#include <string>

#include "platform/HelperService.h"

namespace orvel {

// A simulated helper registration: registering enables, unregistering disables, each answered
// on a later turn; tests set the status and script the next outcome.
class SimHelperService final : public HelperService {
  public:
    int status() override { return status_; }
    void registerService(Completion done) override;
    void unregisterService(Completion done) override;

    // Control surface for tests.
    void setStatus(int status) { status_ = status; }
    // The next change fails with this message and leaves this status.
    void failNext(std::string message, int statusAfter) {
        nextFailure_ = std::move(message);
        statusAfterFailure_ = statusAfter;
    }
    // The status the next successful registration leaves (enabled unless told otherwise).
    void setStatusAfterRegistration(int status) { statusAfterRegistration_ = status; }
    int registrations() const { return registrations_; }
    int unregistrations() const { return unregistrations_; }

  private:
    void finish(Completion done, int statusOnSuccess);

    int status_ = helper_service_status::kNotRegistered;
    int statusAfterRegistration_ = helper_service_status::kEnabled;
    std::optional<std::string> nextFailure_;
    int statusAfterFailure_ = helper_service_status::kNotRegistered;
    int registrations_ = 0;
    int unregistrations_ = 0;
};

}  // namespace orvel
