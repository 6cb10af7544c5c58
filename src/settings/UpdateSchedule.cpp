#include "settings/UpdateSchedule.h"

#include "platform/UserDefaults.h"

namespace orvel {

namespace update_schedule {

UpdateSchedule load(UserDefaults& defaults) {
    if (auto stored = defaults.object(kKey)) {
        if (const auto* text = stored->as<std::string>()) {
            if (auto schedule = fromRaw<UpdateSchedule>(*text)) {
                return *schedule;
            }
        }
    }
    return defaults.boolForKey(kLegacyKey) ? UpdateSchedule::weekly : UpdateSchedule::off;
}

void save(UserDefaults& defaults, UpdateSchedule schedule) {
    defaults.setString(kKey, std::string(rawValue(schedule)));
}

}  // namespace update_schedule

}  // namespace orvel
