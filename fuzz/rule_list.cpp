// The stored rule list and the settings file's rules: the whole list at once and rule by rule
// (as the engine loads its store), in both date forms. The list and its rules must agree, and
// every rule that reads must be written and read back to itself.
#include "triggers/TriggerRule.h"

#include "FuzzSupport.h"

using namespace orvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto json = parseJson(fuzz::text(data, size));
    if (!json) {
        return 0;
    }
    for (const RuleDateForm form : {RuleDateForm::referenceSeconds, RuleDateForm::iso8601}) {
        const auto list = TriggerRule::listFromJson(*json, form);
        if (!json->is_array()) {
            fuzz::require(!list.ok(), "only an array is a rule list");
            continue;
        }
        bool allRead = true;
        for (const auto& element : *json) {
            const auto rule = TriggerRule::fromJson(element, form);
            if (!rule) {
                allRead = false;
                fuzz::require(!rule.error().message.empty(), "a refused rule says why");
                continue;
            }
            const auto back = TriggerRule::fromJson(rule->toJson(form), form);
            fuzz::require(back.ok() && *back == *rule, "a written rule reads back to itself");
        }
        fuzz::require(list.ok() == allRead, "a list reads exactly when each of its rules does");
        if (list) {
            fuzz::require(list->size() == json->size(), "a list keeps every rule");
        }
    }
    return 0;
}
