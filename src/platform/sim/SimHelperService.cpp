#include "platform/sim/SimHelperService.h"

#include "foundation/RunLoop.h"

namespace orvel {

void SimHelperService::registerService(Completion done) {
    ++registrations_;
    finish(std::move(done), statusAfterRegistration_);
}

void SimHelperService::unregisterService(Completion done) {
    ++unregistrations_;
    finish(std::move(done), helper_service_status::kNotRegistered);
}

void SimHelperService::finish(Completion done, int statusOnSuccess) {
    std::optional<std::string> failure = std::move(nextFailure_);
    nextFailure_.reset();
    const int statusAfter = failure ? statusAfterFailure_ : statusOnSuccess;
    RunLoop::main().async([this, done = std::move(done), failure, statusAfter] {
        status_ = statusAfter;
        if (failure) {
            done(Error{*failure});
        } else {
            done({});
        }
    });
}

}  // namespace orvel
