#pragma once

#include <string>
#include <vector>

#include "app/compose/Services.h"
#include "core/ActivityLog.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "platform/sim/SimPlatform.h"
#include "triggers/TriggerEngine.h"

namespace orvel::test {

// What the log says of a rule that may fire only on AC power.
constexpr const char* kIgnoredOffAC = "Ignored \u2014 rule runs only on AC power";

inline TriggerRule makeRule(TriggerSource source, std::string name) {
    TriggerRule rule;
    rule.source = source;
    rule.name = std::move(name);
    return rule;
}

// Stores a rule list as the engine stores it.
inline void storeRules(SimPlatform& sim, const std::vector<TriggerRule>& rules) {
    sim.userDefaults().setData(TriggerEngine::kRulesKey,
                               dataFromString(*dumpJson(TriggerRule::listToJson(rules))));
}

inline void storeText(SimPlatform& sim, const char* key, const std::string& text) {
    sim.userDefaults().setData(key, dataFromString(text));
}

// "kind|title|detail" of each activity entry, oldest first.
inline std::vector<std::string> activity(const ActivityLog& log) {
    std::vector<std::string> lines;
    const auto& entries = log.entries();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        lines.push_back(std::string(rawValue(it->kind)) + "|" + it->title + "|" + it->detail);
    }
    return lines;
}

inline std::vector<std::string> namesOf(const std::vector<TriggerRule>& rules) {
    std::vector<std::string> names;
    for (const auto& rule : rules) {
        names.push_back(rule.name);
    }
    return names;
}

// Log lines of one category, as "level: message".
inline std::vector<std::string> logLines(SimPlatform& sim, const std::string& category) {
    std::vector<std::string> lines;
    for (const auto& record : sim.log().records()) {
        if (record.category == category) {
            lines.push_back(std::string(logLevelName(record.level)) + ": " + record.message);
        }
    }
    return lines;
}

}  // namespace orvel::test
