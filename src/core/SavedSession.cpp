#include "core/SavedSession.h"

namespace orvel {

Json SavedSession::toJson() const {
    Json json = Json::object();
    json["wasActive"] = wasActive;
    json["options"] = options.toJson();
    json["preset"] = enumToJson(preset);
    if (deadline) {
        json["deadline"] = deadline->secondsSinceReferenceDate;
    }
    putOptional(json, "watchBundleID", watchBundleID);
    return json;
}

Result<SavedSession> SavedSession::fromJson(const Json& json) {
    JsonReader reader(json, "saved session");
    SavedSession session;
    session.wasActive = reader.boolean("wasActive");
    if (const Json* options = reader.required("options")) {
        auto decoded = SleepOptions::fromJson(*options);
        if (decoded) {
            session.options = decoded.value();
        } else {
            reader.fail(decoded.error().message);
        }
    }
    if (const Json* preset = reader.required("preset")) {
        auto decoded = enumFromJson<DurationPreset>(*preset, "preset");
        if (decoded) {
            session.preset = decoded.value();
        } else {
            reader.fail(decoded.error().message);
        }
    }
    session.deadline = reader.optionalDate("deadline");
    session.watchBundleID = reader.optionalString("watchBundleID");
    return reader.finish(session);
}

}  // namespace orvel
