#include "automations/RuleTabState.h"

#include "foundation/Localization.h"

namespace orvel {

RuleTabState makePermissionTab(TriggerEngine& engine) {
    return RuleTabState{&engine, {}, true, localized("Checking\u2026")};
}

}  // namespace orvel
