#pragma once

#include <array>

#include "foundation/RawEnum.h"

namespace orvel {

class UserDefaults;

// How often updates would be looked for in the background. No update mechanism is built in:
// the value is only loaded and saved.
enum class UpdateSchedule { off, weekly, biweekly, monthly };

template <>
struct EnumTraits<UpdateSchedule> {
    static constexpr std::array<EnumCase<UpdateSchedule>, 4> cases{{
        {UpdateSchedule::off, "off", textKey("Off")},
        {UpdateSchedule::weekly, "weekly", textKey("Weekly")},
        {UpdateSchedule::biweekly, "biweekly", textKey("Every two weeks")},
        {UpdateSchedule::monthly, "monthly", textKey("Monthly")},
    }};
};

namespace update_schedule {
inline constexpr const char* kKey = "updateSchedule";
// The older Boolean form; only ever read.
inline constexpr const char* kLegacyKey = "weeklyUpdateCheck";

// The stored schedule; an absent or unknown text falls back to the older key. Writes nothing.
UpdateSchedule load(UserDefaults& defaults);
void save(UserDefaults& defaults, UpdateSchedule schedule);
}  // namespace update_schedule

// Where an update mechanism would be attached. There is none: the object exists so the
// disabled "Check for Updates…" button has something to ask for. Main thread only.
class UpdaterBridge {};

}  // namespace orvel
