#include "foundation/NotificationCenter.h"

#include "foundation/Registry.h"

namespace orvel {

NotificationCenter& NotificationCenter::shared() {
    return ORVEL_SHARED_INSTANCE(NotificationCenter);
}

void NotificationCenter::post(const std::string& name, const std::any& object) {
    auto found = signals_.find(name);
    if (found != signals_.end()) {
        found->second.send(object);
    }
}

Subscription NotificationCenter::observe(const std::string& name,
                                         std::function<void(const std::any&)> handler) {
    return signals_[name].subscribe(std::move(handler));
}

}  // namespace orvel
