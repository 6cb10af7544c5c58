#include "core/SleepOptions.h"

#include <limits>

#include "platform/PowerAssertions.h"

namespace orvel {

std::string SleepOptions::flagLetters() const {
    std::string letters;
    if (preventDisplaySleep)
        letters += 'd';
    if (preventIdleSleep)
        letters += 'i';
    if (preventDiskSleep)
        letters += 'm';
    if (preventSystemSleep)
        letters += 's';
    if (declareUserActive)
        letters += 'u';
    return letters;
}

std::vector<std::string> SleepOptions::caffeinateArguments() const {
    std::vector<std::string> arguments;
    if (const std::string letters = flagLetters(); !letters.empty()) {
        arguments.push_back("-" + letters);
    }
    if (timeout > 0) {
        arguments.push_back("-t");
        arguments.push_back(std::to_string(timeout));
    }
    if (watchPID) {
        arguments.push_back("-w");
        arguments.push_back(std::to_string(*watchPID));
    }
    return arguments;
}

std::vector<std::string_view> SleepOptions::assertionTypes() const {
    std::vector<std::string_view> types;
    if (preventDisplaySleep)
        types.push_back(assertion_type::kPreventUserIdleDisplaySleep);
    if (preventIdleSleep)
        types.push_back(assertion_type::kPreventUserIdleSystemSleep);
    if (preventSystemSleep)
        types.push_back(assertion_type::kPreventSystemSleep);
    if (preventDiskSleep)
        types.push_back(assertion_type::kPreventDiskIdle);
    if (types.empty()) {
        types.push_back(assertion_type::kPreventUserIdleSystemSleep);
    }
    return types;
}

std::string SleepOptions::commandLine(std::string_view program) const {
    std::string line(program);
    for (const auto& argument : caffeinateArguments()) {
        line += ' ';
        line += argument;
    }
    return line;
}

Json SleepOptions::toJson() const {
    Json json = Json::object();
    json["preventDisplaySleep"] = preventDisplaySleep;
    json["preventIdleSleep"] = preventIdleSleep;
    json["preventDiskSleep"] = preventDiskSleep;
    json["preventSystemSleep"] = preventSystemSleep;
    json["declareUserActive"] = declareUserActive;
    json["timeout"] = timeout;
    putOptional(json, "watchPID", watchPID);
    return json;
}

Result<SleepOptions> SleepOptions::fromJson(const Json& json) {
    JsonReader reader(json, "sleep options");
    SleepOptions options;
    options.preventDisplaySleep = reader.boolean("preventDisplaySleep");
    options.preventIdleSleep = reader.boolean("preventIdleSleep");
    options.preventDiskSleep = reader.boolean("preventDiskSleep");
    options.preventSystemSleep = reader.boolean("preventSystemSleep");
    options.declareUserActive = reader.boolean("declareUserActive");
    options.timeout = reader.integer("timeout");
    if (auto pid = reader.optionalInteger("watchPID", std::numeric_limits<std::int32_t>::min(),
                                          std::numeric_limits<std::int32_t>::max())) {
        options.watchPID = static_cast<std::int32_t>(*pid);
    }
    return reader.finish(options);
}

}  // namespace orvel
