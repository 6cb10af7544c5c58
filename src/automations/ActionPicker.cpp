#include "automations/ActionPicker.h"

#include "automations/RuleWrite.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

using namespace ui;

void ActionPicker::set(TriggerAction action) const {
    writeRule(engine, rule.id,
              [action, field = keyPath](TriggerRule& stored) { stored.*field = action; });
}

View ActionPicker::body() const {
    const ActionPicker self = *this;
    Binding<std::string> selection{[value = rule.*keyPath] { return std::string(rawValue(value)); },
                                   [self](const std::string& tag) {
                                       if (auto action = fromRaw<TriggerAction>(tag)) {
                                           self.set(*action);
                                       }
                                   }};
    std::vector<View> options;
    for (TriggerAction action : allCases<TriggerAction>()) {
        options.push_back(TextVerbatim(label(action)).tag(std::string(rawValue(action))));
    }
    return LabeledContent(
        title, Picker(title, std::move(selection), std::move(options)).labelsHidden().frame(150));
}

}  // namespace orvel
