#include "triggers/TriggerEngine.h"

#include "foundation/Registry.h"
#include "foundation/RunLoop.h"

namespace orvel {

TriggerEngine& TriggerEngine::shared() {
    return ORVEL_SHARED_INSTANCE(TriggerEngine);
}

void TriggerEngine::start() {
    started_ = true;
    started.send();
}

bool TriggerEngine::isPaused() const {
    if (!pausedUntil_) {
        return false;
    }
    return pausedUntil_->isDistantFuture() || *pausedUntil_ > now();
}

void TriggerEngine::sessionEnded(std::optional<UUID> owner, bool manual) {
    sessionEndReported.send(owner, manual);
}

}  // namespace orvel
