#include "triggers/TriggerRule.h"

#include <cmath>
#include <cstdio>

namespace orvel {

namespace {

constexpr const char* kPayloadKey = "_0";

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

// Whole seconds in UTC, "2026-12-08T09:00:00Z"; a fraction of a second is dropped.
std::string isoText(Date date) {
    const auto unix = static_cast<std::int64_t>(std::floor(date.unixTime()));
    std::int64_t days = unix / 86400;
    std::int64_t rest = unix % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    std::int64_t y = 0;
    unsigned m = 0;
    unsigned d = 0;
    civilFromDays(days, y, m, d);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(y), m, d, static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return buffer;
}

bool readDigits(std::string_view text, std::size_t& at, std::size_t count, int& out) {
    if (at + count > text.size()) {
        return false;
    }
    out = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9') {
            return false;
        }
        out = out * 10 + (c - '0');
    }
    at += count;
    return true;
}

bool expect(std::string_view text, std::size_t& at, char c) {
    if (at < text.size() && text[at] == c) {
        ++at;
        return true;
    }
    return false;
}

// "YYYY-MM-DDTHH:MM:SS" followed by "Z" or an offset "+hh:mm" / "+hhmm".
std::optional<Date> parseIso(std::string_view text) {
    std::size_t at = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(text, at, 4, year) || !expect(text, at, '-') ||
        !readDigits(text, at, 2, month) || !expect(text, at, '-') ||
        !readDigits(text, at, 2, day) || !expect(text, at, 'T') || !readDigits(text, at, 2, hour) ||
        !expect(text, at, ':') || !readDigits(text, at, 2, minute) || !expect(text, at, ':') ||
        !readDigits(text, at, 2, second)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    int offset = 0;
    if (expect(text, at, 'Z')) {
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const int sign = text[at] == '-' ? -1 : 1;
        ++at;
        int oh = 0, om = 0;
        if (!readDigits(text, at, 2, oh)) {
            return std::nullopt;
        }
        expect(text, at, ':');
        if (!readDigits(text, at, 2, om)) {
            return std::nullopt;
        }
        offset = sign * (oh * 3600 + om * 60);
    } else {
        return std::nullopt;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    const std::int64_t days =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const std::int64_t unix = days * 86400 + hour * 3600 + minute * 60 + second - offset;
    return Date::fromUnix(static_cast<double>(unix));
}

Json dateToJson(Date date, RuleDateForm form) {
    if (form == RuleDateForm::iso8601) {
        return Json(isoText(date));
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
    auto date = parseIso(*text);
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
