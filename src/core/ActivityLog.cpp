#include "core/ActivityLog.h"

#include "core/RedactedIdentifier.h"
#include "foundation/Calendar.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "platform/UserDefaults.h"

#include <utility>

namespace orvel {

// ActivityEntry --------------------------------------------------------------------------------

ActivityEntry ActivityEntry::make(Kind kind, std::string title, std::string detail) {
    return ActivityEntry{UUID::random(), RunLoop::main().now(), kind, std::move(title),
                         std::move(detail)};
}

Json ActivityEntry::toJson() const {
    Json json = Json::object();
    json["id"] = id.uuidString();
    json["date"] = date.secondsSinceReferenceDate;
    json["kind"] = enumToJson(kind);
    json["title"] = title;
    json["detail"] = detail;
    return json;
}

Result<ActivityEntry> ActivityEntry::fromJson(const Json& json) {
    JsonReader reader(json, "activity entry");
    ActivityEntry entry;
    entry.id = reader.uuid("id");
    entry.date = reader.date("date");
    if (const Json* kind = reader.required("kind")) {
        auto decoded = enumFromJson<Kind>(*kind, "kind");
        if (decoded) {
            entry.kind = decoded.value();
        } else {
            reader.fail(decoded.error().message);
        }
    }
    entry.title = reader.string("title");
    entry.detail = reader.string("detail");
    return reader.finish(entry);
}

// ActivityLog ----------------------------------------------------------------------------------

namespace {

std::vector<ActivityEntry> decodeAll(const Json& stored, std::size_t* skipped) {
    std::vector<ActivityEntry> decoded;
    *skipped = 0;
    for (const auto& element : stored) {
        auto entry = ActivityEntry::fromJson(element);
        if (entry) {
            decoded.push_back(std::move(entry.value()));
        } else {
            ++*skipped;
        }
    }
    return decoded;
}

}  // namespace

ActivityLog::ActivityLog(UserDefaults& defaults) : defaults_(defaults) {
    const auto data = defaults_.dataForKey(kDefaultsKey);
    if (!data) {
        return;
    }
    auto stored = decodeStored(viewOfData(*data));
    if (!stored) {
        log_.error("The stored activity log could not be read; starting with an empty log.");
        return;
    }
    stored_ = std::move(stored->list);
    entries = std::move(stored->entries);
    if (stored->skipped > 0) {
        log_.error("Skipped " + std::to_string(stored->skipped) +
                   " unreadable entries of the stored activity log; they are kept as stored.");
    }
    if (stored->dropped > 0) {
        // Stored trimmed, so that the long list is neither read again nor kept in the settings.
        log_.notice("The stored activity log held " +
                    std::to_string(stored->dropped + stored_.size()) +
                    " entries; kept the newest " + std::to_string(stored_.size()) +
                    " and dropped " + std::to_string(stored->dropped) + " older ones.");
        save();
    }
}

Result<ActivityLog::Stored> ActivityLog::decodeStored(std::string_view text) {
    std::size_t elements = 0;
    auto json = parseJsonKeepingFirst(text, kCapacity, &elements);
    if (!json) {
        return json.error();
    }
    if (!json->is_array()) {
        return Error{"the stored activity log is not a list"};
    }
    Stored stored;
    stored.list = std::move(json.value());
    stored.entries = decodeAll(stored.list, &stored.skipped);
    stored.dropped = elements - stored.list.size();
    return stored;
}

namespace {

// Set before any run loop turns and read only on the main thread.
std::function<ActivityLog&()>& installedLog() {
    static std::function<ActivityLog&()> reach;
    return reach;
}

}  // namespace

std::function<ActivityLog&()> ActivityLog::setInstalled(std::function<ActivityLog&()> reach) {
    return std::exchange(installedLog(), std::move(reach));
}

void ActivityLog::add(ActivityEntry entry) {
    RunLoop::main().async([entry = std::move(entry)]() mutable {
        // Once the services are gone, an entry has no log to go to.
        if (const auto& reach = installedLog()) {
            reach().append(std::move(entry));
        }
    });
}

void ActivityLog::append(ActivityEntry entry) {
    stored_.insert(stored_.begin(), entry.toJson());
    if (stored_.size() > kCapacity) {
        stored_.erase(stored_.begin() + static_cast<std::ptrdiff_t>(kCapacity), stored_.end());
    }
    std::size_t skipped = 0;
    entries = decodeAll(stored_, &skipped);
    save();
}

void ActivityLog::save() {
    auto text = dumpJson(stored_);
    if (!text) {
        log_.error("The activity log was not saved: " + text.error().message);
        return;
    }
    defaults_.setData(kDefaultsKey, dataFromString(*text));
}

void ActivityLog::clear() {
    stored_ = Json::array();
    entries = {};
    defaults_.removeObject(kDefaultsKey);
}

std::string ActivityLog::exportText(bool redact) const {
    const auto& list = entries();
    std::string text = "\u2500\u2500 TRIGGER ACTIVITY (last " + std::to_string(list.size()) + ") ";
    for (int i = 0; i < 22; ++i) {
        text += "\u2500";
    }
    if (list.empty()) {
        return text + "\n  (empty)";
    }
    for (const auto& entry : list) {
        text +=
            "\n  " + timeOfDayText(entry.date) + "  [" + std::string(rawValue(entry.kind)) + "]  ";
        if (redact) {
            text += redactedIdentifier(entry.title);
        } else {
            text += entry.title;
            if (!entry.detail.empty()) {
                text += " \u2014 " + entry.detail;
            }
        }
    }
    return text;
}

}  // namespace orvel
