#include "automations/RuleWrite.h"

#include "triggers/TriggerEngine.h"

namespace orvel {

std::optional<TriggerRule> writeRule(TriggerEngine& engine, const UUID& id,
                                     const std::function<void(TriggerRule&)>& change) {
    std::optional<TriggerRule> stored;
    for (const TriggerRule& rule : engine.rules()) {
        if (rule.id == id) {
            stored = rule;
            break;
        }
    }
    if (!stored) {
        return std::nullopt;
    }
    change(*stored);
    stored->id = id;
    engine.update(*stored);
    return stored;
}

}  // namespace orvel
