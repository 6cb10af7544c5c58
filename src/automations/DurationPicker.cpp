#include "automations/DurationPicker.h"

#include "automations/RuleWrite.h"
#include "foundation/Localization.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

using namespace ui;

const std::vector<DurationChoice>& DurationChoice::all() {
    static const std::vector<DurationChoice> choices{
        {localized("Indefinitely"), 0}, {localized("30 min"), 1800}, {localized("1 h"), 3600},
        {localized("2 h"), 7200},       {localized("4 h"), 14400},   {localized("8 h"), 28800},
    };
    return choices;
}

std::vector<View> DurationChoice::pickerRows() {
    std::vector<View> rows;
    for (const DurationChoice& choice : all()) {
        rows.push_back(TextVerbatim(choice.label).tag(std::to_string(choice.secs)));
    }
    return rows;
}

void DurationPicker::set(std::int64_t seconds) const {
    writeRule(engine, rule.id,
              [seconds](TriggerRule& stored) { stored.durationSeconds = seconds; });
}

View DurationPicker::body() const {
    const DurationPicker self = *this;
    Binding<std::int64_t> seconds{[value = rule.durationSeconds] { return value; },
                                  [self](const std::int64_t& value) { self.set(value); }};
    return LabeledContent("Session duration", Picker("Session duration", intTagBinding(seconds),
                                                     DurationChoice::pickerRows())
                                                  .labelsHidden()
                                                  .frame(150));
}

}  // namespace orvel
