#pragma once

#include <optional>
#include <string>

#include "core/DurationPreset.h"
#include "core/SleepOptions.h"
#include "foundation/Date.h"
#include "foundation/Json.h"

namespace orvel {

// The session state kept across a quit and relaunch.
struct SavedSession {
    bool wasActive = false;
    SleepOptions options;
    DurationPreset preset = DurationPreset::indefinite;
    std::optional<Date> deadline;
    std::optional<std::string> watchBundleID;

    Json toJson() const;
    static Result<SavedSession> fromJson(const Json& json);

    bool operator==(const SavedSession&) const = default;
};

}  // namespace orvel
