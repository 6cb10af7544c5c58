#include "devices/UserAsker.h"

namespace orvel {

namespace {

// Process-wide, like the installed host: the way to ask outlives every service that asks.
std::unique_ptr<UserAsker>& installed() {
    static std::unique_ptr<UserAsker> asker;
    return asker;
}

}  // namespace

UserAsker* UserAsker::ready() {
    UserAsker* asker = installed().get();
    return asker != nullptr && asker->canAsk() ? asker : nullptr;
}

void UserAsker::install(std::unique_ptr<UserAsker> asker) {
    installed() = std::move(asker);
}

}  // namespace orvel
