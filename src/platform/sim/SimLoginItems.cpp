#include "platform/sim/SimLoginItems.h"

namespace orvel {

std::optional<Error> SimLoginItems::takeFailure() {
    if (!nextFailure_) {
        return std::nullopt;
    }
    Error error{*nextFailure_};
    nextFailure_.reset();
    return error;
}

Result<void> SimLoginItems::registerItem() {
    if (auto failure = takeFailure()) {
        return *failure;
    }
    ++registrations_;
    status_ = login_item_status::kEnabled;
    return {};
}

Result<void> SimLoginItems::unregisterItem() {
    if (auto failure = takeFailure()) {
        return *failure;
    }
    ++unregistrations_;
    status_ = login_item_status::kNotRegistered;
    return {};
}

}  // namespace orvel
