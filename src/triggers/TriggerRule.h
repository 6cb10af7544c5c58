#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "foundation/Date.h"
#include "foundation/Json.h"
#include "foundation/RawEnum.h"
#include "foundation/Result.h"
#include "foundation/UUID.h"

namespace orvel {

// The family of a rule: which event source watches it.
enum class TriggerSource { bluetooth, wifiSSID, network, schedule, app };

template <>
struct EnumTraits<TriggerSource> {
    using K = TriggerSource;
    static constexpr std::array<EnumCase<K>, 5> cases{{
        {K::bluetooth, "bluetooth", textKey("Bluetooth")},
        {K::wifiSSID, "wifiSSID", textKey("WiFi (SSID)")},
        {K::network, "network", textKey("Network")},
        {K::schedule, "schedule", textKey("Schedule")},
        {K::app, "app", textKey("Apps")},
    }};
};

// What one edge of a rule does.
enum class TriggerAction { startSession, endSession, nothing };

template <>
struct EnumTraits<TriggerAction> {
    using K = TriggerAction;
    static constexpr std::array<EnumCase<K>, 3> cases{{
        {K::startSession, "startSession", textKey("Start session")},
        {K::endSession, "endSession", textKey("End session")},
        {K::nothing, "nothing", textKey("Do nothing")},
    }};
};

// The localised name of a family, as lists and the activity log show it.
std::string displayName(TriggerSource source);

// The one network condition of a wifiSSID or network rule.
struct NetworkMatcher {
    enum class Kind { ssid, ipv4Range, gateway, searchDomain, interfaceType, vpnConnected };

    Kind kind = Kind::ssid;
    // The payload of every kind but vpnConnected (empty there).
    std::string value;

    static NetworkMatcher ssid(std::string name) { return {Kind::ssid, std::move(name)}; }
    static NetworkMatcher ipv4Range(std::string range) {
        return {Kind::ipv4Range, std::move(range)};
    }
    static NetworkMatcher gateway(std::string address) {
        return {Kind::gateway, std::move(address)};
    }
    static NetworkMatcher searchDomain(std::string domain) {
        return {Kind::searchDomain, std::move(domain)};
    }
    static NetworkMatcher interfaceType(std::string type) {
        return {Kind::interfaceType, std::move(type)};
    }
    static NetworkMatcher vpnConnected() { return {Kind::vpnConnected, {}}; }

    bool hasPayload() const { return kind != Kind::vpnConnected; }

    // {"<case>": {"_0": payload}}, or {"vpnConnected": {}}.
    Json toJson() const;
    static Result<NetworkMatcher> fromJson(const Json& json);

    bool operator==(const NetworkMatcher& other) const {
        return kind == other.kind && (!hasPayload() || value == other.value);
    }
};

template <>
struct EnumTraits<NetworkMatcher::Kind> {
    using K = NetworkMatcher::Kind;
    static constexpr std::array<EnumCase<K>, 6> cases{{
        {K::ssid, "ssid", textKey("WiFi SSID")},
        {K::ipv4Range, "ipv4Range", textKey("IPv4 range")},
        {K::gateway, "gateway", textKey("Gateway IP")},
        {K::searchDomain, "searchDomain", textKey("Search domain")},
        {K::interfaceType, "interfaceType", textKey("Interface type")},
        {K::vpnConnected, "vpnConnected", textKey("VPN connected")},
    }};
};

// How a list of rules writes its dates: the store keeps seconds since 2001 (with fraction), the
// settings file ISO 8601 text in whole seconds.
enum class RuleDateForm { referenceSeconds, iso8601 };

// One trigger rule: a condition to watch and what its appear and clear edges do. A plain value;
// absent optional Booleans count as false everywhere, but false and absent are not equal.
struct TriggerRule {
    UUID id = UUID::random();
    std::string name;
    TriggerSource source = TriggerSource::bluetooth;
    bool enabled = true;
    std::optional<std::string> btAddress;
    std::optional<std::string> btName;
    std::optional<NetworkMatcher> matcher;
    TriggerAction onAppear = TriggerAction::startSession;
    TriggerAction onClear = TriggerAction::endSession;
    std::int64_t durationSeconds = 0;
    bool acOnly = false;
    std::optional<std::int64_t> btBattEnd;
    std::optional<std::int64_t> btBattRecover;
    bool unavailableHere = false;
    std::optional<std::string> schedKind;
    std::optional<std::vector<std::int64_t>> schedDays;
    std::optional<std::int64_t> schedStartMin;
    std::optional<std::int64_t> schedEndMin;
    std::optional<Date> schedDate;
    std::optional<bool> wakeMac;
    std::optional<bool> lockAtFire;
    std::optional<bool> endsManual;
    std::optional<Date> firedAt;
    std::optional<std::string> appBundleID;
    std::optional<std::string> appName;
    std::optional<bool> watchBackground;

    bool operator==(const TriggerRule&) const = default;

    bool isOneShot() const { return schedKind == "oneshot"; }

    // The JSON object: the nine required keys always, optional keys only when present.
    Json toJson(RuleDateForm dates = RuleDateForm::referenceSeconds) const;
    // Strict: a required key missing, null or of another JSON type fails, and so does an
    // optional key of another JSON type; unknown keys are ignored.
    static Result<TriggerRule> fromJson(const Json& json,
                                        RuleDateForm dates = RuleDateForm::referenceSeconds);

    // A list of rules; one rule that does not decode fails the whole list.
    static Json listToJson(const std::vector<TriggerRule>& rules,
                           RuleDateForm dates = RuleDateForm::referenceSeconds);
    static Result<std::vector<TriggerRule>> listFromJson(
        const Json& json, RuleDateForm dates = RuleDateForm::referenceSeconds);

    // Texts. (L) texts go through the string table; dates and times through the user's locale.

    // "Indefinitely", "45 min", "2 h", "1 h 30 min" (never localised).
    std::string durationLabel() const;
    // The activity-log title of the appear (true) or clear (false) edge.
    std::string eventText(bool appeared) const;
    // What the rule watches, in a few words.
    std::string targetText() const;
    // The days of a schedule rule: "Every day", "Weekdays", "Weekends" or short day names.
    std::string scheduleSummary() const;
    // One edge's action in lower case: "start (1 h)", "end", "nothing".
    std::string actionSummary(TriggerAction action) const;
    // The one line shown under the rule's name in the rule list.
    std::string summaryLine() const;
    std::string chips() const { return summaryLine(); }
    // A one-time rule's date in the medium date and short time style; "—" when absent.
    static std::string oneShotDateText(const std::optional<Date>& date);
    // A time of day (minutes after midnight) in the short time style; "—" when absent.
    static std::string timeText(const std::optional<std::int64_t>& minutes);
};

}  // namespace orvel
