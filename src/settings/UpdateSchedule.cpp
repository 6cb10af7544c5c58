#include "settings/UpdateSchedule.h"

#include "foundation/Registry.h"
#include "platform/Platform.h"
#include "platform/UserDefaults.h"

namespace orvel {

namespace update_schedule {

UpdateSchedule load() {
    UserDefaults& d = Platform::current().userDefaults();
    if (auto stored = d.object(kKey)) {
        if (const auto* text = stored->as<std::string>()) {
            if (auto schedule = fromRaw<UpdateSchedule>(*text)) {
                return *schedule;
            }
        }
    }
    return d.boolForKey(kLegacyKey) ? UpdateSchedule::weekly : UpdateSchedule::off;
}

void save(UpdateSchedule schedule) {
    Platform::current().userDefaults().setString(kKey, std::string(rawValue(schedule)));
}

}  // namespace update_schedule

UpdaterBridge& UpdaterBridge::shared() {
    return ORVEL_SHARED_INSTANCE(UpdaterBridge);
}

}  // namespace orvel
