#include "devices/PermissionPrimer.h"

#include "core/Preferences.h"
#include "foundation/Registry.h"
#include "foundation/RunLoop.h"

namespace orvel {

PermissionPrimer& PermissionPrimer::shared() {
    return ORVEL_SHARED_INSTANCE(PermissionPrimer);
}

void PermissionPrimer::explainIfNeeded(WeakRef<Preferences> prefs, std::function<void()> revert) {
    PermissionPrimer& primer = shared();
    ++primer.requests_;
    primer.pending_.push_back(Request{prefs, std::move(revert)});
    if (!primer.holds_) {
        RunLoop::main().async([] {
            if (auto* p = Registry::existing<PermissionPrimer>(); p && !p->pending_.empty()) {
                p->finish(false);
            }
        });
    }
}

void PermissionPrimer::finish(bool granted) {
    if (pending_.empty()) {
        return;
    }
    Request request = std::move(pending_.front());
    pending_.pop_front();
    Preferences::permissionRequestFinished(granted, request.prefs, request.revert);
}

}  // namespace orvel
