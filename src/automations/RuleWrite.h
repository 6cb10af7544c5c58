#pragma once

#include <functional>
#include <optional>

#include "foundation/UUID.h"
#include "triggers/TriggerRule.h"

namespace orvel {

class TriggerEngine;

// The one way an editor changes a rule. Controls are drawn from copies of the rules that go
// stale as soon as another control writes, so the change is applied to the rule as the engine
// stores it now, read again by id; what `change` derives it derives from that rule too. A rule
// that is gone is not written. Returns the rule as written. Main thread only.
std::optional<TriggerRule> writeRule(TriggerEngine& engine, const UUID& id,
                                     const std::function<void(TriggerRule&)>& change);

}  // namespace orvel
