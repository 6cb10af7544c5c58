#include "automations/ACOnlyToggle.h"

#include "automations/RuleWrite.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

using namespace ui;

void ACOnlyToggle::set(bool on) const {
    writeRule(engine, rule.id, [on](TriggerRule& stored) { stored.acOnly = on; });
}

View ACOnlyToggle::body() const {
    const ACOnlyToggle self = *this;
    return Toggle(
        "Only while on AC power",
        Binding<bool>{[on = rule.acOnly] { return on; }, [self](const bool& on) { self.set(on); }});
}

}  // namespace orvel
