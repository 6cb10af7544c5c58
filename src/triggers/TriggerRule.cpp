#include "triggers/TriggerRule.h"

#include "foundation/Iso8601.h"

namespace orvel {

namespace {

constexpr const char* kPayloadKey = "_0";

Json dateToJson(Date date, RuleDateForm form) {
    if (form == RuleDateForm::iso8601) {
        return Json(iso8601Text(date));
    }
    return Json(date.secondsSinceReferenceDate);
}

std::optional<Date> readDate(JsonReader& reader, std::string_view key, RuleDateForm form) {
    if (form == RuleDateForm::referenceSeconds) {
        return reader.optionalDate(key);
    }
    auto text = reader.optionalString(key);
    if (!text) {
        return std::nullopt;
    }
    auto date = parseIso8601(*text);
    if (!date) {
        reader.fail("\"" + std::string(key) + "\" is not an ISO 8601 date: \"" + *text + "\"");
    }
    return date;
}

template <class E>
E readEnum(JsonReader& reader, std::string_view key) {
    const std::string raw = reader.string(key);
    if (!reader.ok()) {
        return E{};
    }
    auto value = fromRaw<E>(raw);
    if (!value) {
        reader.fail("Cannot initialize " + std::string(key) + " from invalid String value " + raw);
        return E{};
    }
    return *value;
}

}  // namespace

std::string displayName(TriggerSource source) {
    return label(source);
}

Json NetworkMatcher::toJson() const {
    Json inner = Json::object();
    if (hasPayload()) {
        inner[kPayloadKey] = value;
    }
    Json out = Json::object();
    out[std::string(rawValue(kind))] = std::move(inner);
    return out;
}

Result<NetworkMatcher> NetworkMatcher::fromJson(const Json& json) {
    if (!json.is_object()) {
        return Error{"matcher: is not a JSON object"};
    }
    const Json* found = nullptr;
    Kind kind = Kind::ssid;
    int count = 0;
    for (auto it = json.begin(); it != json.end(); ++it) {
        if (auto k = fromRaw<Kind>(it.key())) {
            ++count;
            kind = *k;
            found = &it.value();
        }
    }
    if (count != 1) {
        return Error{"matcher: Invalid number of keys found, expected one."};
    }
    if (!found->is_object()) {
        return Error{"matcher: \"" + std::string(rawValue(kind)) + "\" is not a JSON object"};
    }
    if (kind == Kind::vpnConnected) {
        return vpnConnected();
    }
    auto payload = found->find(kPayloadKey);
    if (payload == found->end() || !payload->is_string()) {
        return Error{"matcher: \"" + std::string(rawValue(kind)) + "\" has no text under \"_0\""};
    }
    return NetworkMatcher{kind, payload->get<std::string>()};
}

Json TriggerRule::toJson(RuleDateForm dates) const {
    Json out = Json::object();
    out["id"] = id.uuidString();
    out["name"] = name;
    out["source"] = enumToJson(source);
    out["enabled"] = enabled;
    putOptional(out, "btAddress", btAddress);
    putOptional(out, "btName", btName);
    if (matcher) {
        out["matcher"] = matcher->toJson();
    }
    out["onAppear"] = enumToJson(onAppear);
    out["onClear"] = enumToJson(onClear);
    out["durationSeconds"] = durationSeconds;
    out["acOnly"] = acOnly;
    putOptional(out, "btBattEnd", btBattEnd);
    putOptional(out, "btBattRecover", btBattRecover);
    out["unavailableHere"] = unavailableHere;
    putOptional(out, "schedKind", schedKind);
    putOptional(out, "schedDays", schedDays);
    putOptional(out, "schedStartMin", schedStartMin);
    putOptional(out, "schedEndMin", schedEndMin);
    if (schedDate) {
        out["schedDate"] = dateToJson(*schedDate, dates);
    }
    putOptional(out, "wakeMac", wakeMac);
    putOptional(out, "lockAtFire", lockAtFire);
    putOptional(out, "endsManual", endsManual);
    if (firedAt) {
        out["firedAt"] = dateToJson(*firedAt, dates);
    }
    putOptional(out, "appBundleID", appBundleID);
    putOptional(out, "appName", appName);
    putOptional(out, "watchBackground", watchBackground);
    return out;
}

Result<TriggerRule> TriggerRule::fromJson(const Json& json, RuleDateForm dates) {
    JsonReader r(json, "rule");
    TriggerRule rule;
    rule.id = r.uuid("id");
    rule.name = r.string("name");
    rule.source = readEnum<TriggerSource>(r, "source");
    rule.enabled = r.boolean("enabled");
    rule.btAddress = r.optionalString("btAddress");
    rule.btName = r.optionalString("btName");
    if (const Json* m = r.optional("matcher")) {
        auto matcher = NetworkMatcher::fromJson(*m);
        if (matcher) {
            rule.matcher = *matcher;
        } else {
            r.fail(matcher.error().message);
        }
    }
    rule.onAppear = readEnum<TriggerAction>(r, "onAppear");
    rule.onClear = readEnum<TriggerAction>(r, "onClear");
    rule.durationSeconds = r.integer("durationSeconds");
    rule.acOnly = r.boolean("acOnly");
    rule.btBattEnd = r.optionalInteger("btBattEnd");
    rule.btBattRecover = r.optionalInteger("btBattRecover");
    rule.unavailableHere = r.boolean("unavailableHere");
    rule.schedKind = r.optionalString("schedKind");
    if (const Json* days = r.optional("schedDays")) {
        if (!days->is_array()) {
            r.fail("\"schedDays\" is not a list");
        } else {
            std::vector<std::int64_t> list;
            for (const Json& day : *days) {
                Json wrapped = Json::object();
                wrapped["schedDays"] = day;
                JsonReader element(wrapped, "rule");
                list.push_back(element.integer("schedDays"));
                if (!element.ok()) {
                    r.fail("\"schedDays\" holds a value that is not a whole number");
                    break;
                }
            }
            rule.schedDays = std::move(list);
        }
    }
    rule.schedStartMin = r.optionalInteger("schedStartMin");
    rule.schedEndMin = r.optionalInteger("schedEndMin");
    rule.schedDate = readDate(r, "schedDate", dates);
    rule.wakeMac = r.optionalBoolean("wakeMac");
    rule.lockAtFire = r.optionalBoolean("lockAtFire");
    rule.endsManual = r.optionalBoolean("endsManual");
    rule.firedAt = readDate(r, "firedAt", dates);
    rule.appBundleID = r.optionalString("appBundleID");
    rule.appName = r.optionalString("appName");
    rule.watchBackground = r.optionalBoolean("watchBackground");
    return r.finish(std::move(rule));
}

Json TriggerRule::listToJson(const std::vector<TriggerRule>& rules, RuleDateForm dates) {
    Json out = Json::array();
    for (const auto& rule : rules) {
        out.push_back(rule.toJson(dates));
    }
    return out;
}

Result<std::vector<TriggerRule>> TriggerRule::listFromJson(const Json& json, RuleDateForm dates) {
    if (!json.is_array()) {
        return Error{"rules: not a JSON list"};
    }
    std::vector<TriggerRule> rules;
    rules.reserve(json.size());
    for (std::size_t i = 0; i < json.size(); ++i) {
        auto rule = fromJson(json[i], dates);
        if (!rule) {
            return Error{"rule " + std::to_string(i + 1) + ": " + rule.error().message};
        }
        rules.push_back(std::move(*rule));
    }
    return rules;
}

}  // namespace orvel
