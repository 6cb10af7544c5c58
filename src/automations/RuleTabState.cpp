#include "automations/RuleTabState.h"

#include "foundation/Localization.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

RuleTabState makePermissionTab() {
    return RuleTabState{&TriggerEngine::shared(), {}, true, localized("Checking\u2026")};
}

}  // namespace orvel
