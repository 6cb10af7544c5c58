// The stored form of one drive, apart from the service so that readers of drive lists (the
// settings import, its fuzz target) need none of the service's dependencies.
#include "drives/DriveKeepAlive.h"

namespace orvel {

Json DriveKeepAlive::Drive::toJson() const {
    Json json = Json::object();
    json["id"] = id;
    json["name"] = name;
    json["path"] = path;
    json["isNetwork"] = isNetwork;
    putOptional(json, "remountURL", remountURL);
    json["enabled"] = enabled;
    json["lifecycle"] = std::string(rawValue(lifecycle));
    putOptional(json, "intervalOverride", intervalOverride);
    if (lastRead) {
        json["lastRead"] = lastRead->secondsSinceReferenceDate;
    }
    json["offline"] = offline;
    return json;
}

Result<DriveKeepAlive::Drive> DriveKeepAlive::Drive::fromJson(const Json& json) {
    JsonReader r(json, "drive");
    Drive d;
    d.id = r.string("id");
    d.name = r.string("name");
    d.path = r.string("path");
    d.isNetwork = r.boolean("isNetwork");
    d.remountURL = r.optionalString("remountURL");
    d.enabled = r.boolean("enabled");
    const std::string lifecycle = r.string("lifecycle");
    if (r.ok()) {
        if (auto value = fromRaw<Lifecycle>(lifecycle)) {
            d.lifecycle = *value;
        } else {
            r.fail("lifecycle \"" + lifecycle + "\" is not one of the known values");
        }
    }
    d.intervalOverride = r.optionalInteger("intervalOverride");
    d.lastRead = r.optionalDate("lastRead");
    d.offline = r.boolean("offline");
    return r.finish(std::move(d));
}

}  // namespace orvel
