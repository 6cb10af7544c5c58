#include <set>

#include "foundation/DateFormatting.h"
#include "foundation/Localization.h"
#include "triggers/TriggerRule.h"

namespace orvel {

namespace {

constexpr const char* kDot = " \u00B7 ";
constexpr const char* kArrow = " \u2192 ";
constexpr const char* kMissing = "\u2014";

std::string matcherPayload(const std::optional<NetworkMatcher>& matcher) {
    return matcher && matcher->hasPayload() ? matcher->value : std::string();
}

}  // namespace

std::string TriggerRule::durationLabel() const {
    const std::int64_t d = durationSeconds;
    if (d <= 0) {
        return "Indefinitely";
    }
    if (d < 3600) {
        return std::to_string(d / 60) + " min";
    }
    if (d % 3600 < 60) {
        return std::to_string(d / 3600) + " h";
    }
    return std::to_string(d / 3600) + " h " + std::to_string(d % 3600 / 60) + " min";
}

std::string TriggerRule::eventText(bool appeared) const {
    switch (source) {
        case TriggerSource::bluetooth:
            return localizedFormat(appeared ? "%@ connected" : "%@ disconnected",
                                   {btName.value_or(name)});
        case TriggerSource::wifiSSID:
            return localizedFormat(appeared ? "Joined WiFi \"%@\"" : "Left WiFi \"%@\"",
                                   {matcherPayload(matcher)});
        case TriggerSource::network:
            return localizedFormat(appeared ? "%@ seen" : "%@ gone", {targetText()});
        case TriggerSource::schedule:
            if (isOneShot()) {
                return localizedFormat("%@ \u2014 scheduled time reached", {name});
            }
            return localizedFormat(appeared ? "%@ \u2014 window started" : "%@ \u2014 window ended",
                                   {name});
        case TriggerSource::app:
            return localizedFormat(appeared ? "%@ launched" : "%@ quit", {appName.value_or(name)});
    }
    return name;
}

std::string TriggerRule::targetText() const {
    switch (source) {
        case TriggerSource::bluetooth:
            return btName.value_or("device");
        case TriggerSource::wifiSSID:
        case TriggerSource::network: {
            if (!matcher) {
                return kMissing;
            }
            if (!matcher->hasPayload()) {
                return "VPN connected";
            }
            std::string kindLabel(
                EnumTraits<NetworkMatcher::Kind>::cases[static_cast<std::size_t>(matcher->kind)]
                    .label);
            return matcher->value.empty() ? kindLabel : kindLabel + " " + matcher->value;
        }
        case TriggerSource::schedule: {
            if (isOneShot()) {
                return oneShotDateText(schedDate);
            }
            std::string text = scheduleSummary() + " " + timeText(schedStartMin);
            if (schedEndMin) {
                text += "\u2013" + timeText(schedEndMin);
            }
            return text;
        }
        case TriggerSource::app:
            return appName.value_or("app");
    }
    return {};
}

std::string TriggerRule::scheduleSummary() const {
    if (!schedDays || schedDays->empty()) {
        return localized("Every day");
    }
    // Only weekday numbers count: seven values of which some are out of range are not every day.
    std::set<std::int64_t> days;
    for (const std::int64_t day : *schedDays) {
        if (day >= 1 && day <= 7) {
            days.insert(day);
        }
    }
    if (days.size() == 7) {
        return localized("Every day");
    }
    if (days == std::set<std::int64_t>{2, 3, 4, 5, 6}) {
        return localized("Weekdays");
    }
    if (days == std::set<std::int64_t>{1, 7}) {
        return localized("Weekends");
    }
    const std::vector<std::string> names = shortWeekdaySymbols();
    std::string text;
    for (const std::int64_t day : {2, 3, 4, 5, 6, 7, 1}) {
        if (days.count(day) != 0) {
            if (!text.empty()) {
                text += ' ';
            }
            text += names[static_cast<std::size_t>(day - 1)];
        }
    }
    return text;
}

std::string TriggerRule::actionSummary(TriggerAction action) const {
    switch (action) {
        case TriggerAction::startSession:
            if (durationSeconds > 0) {
                return localizedFormat("start (%@)", {durationLabel()});
            }
            return localized("start (Indefinitely)");
        case TriggerAction::endSession:
            return localized("end");
        case TriggerAction::nothing:
            return localized("nothing");
    }
    return {};
}

std::string TriggerRule::summaryLine() const {
    const std::string a1 = actionSummary(onAppear);
    const std::string a2 = actionSummary(onClear);
    auto edges = [&](const char* appear, const char* clear) {
        return localized(appear) + kArrow + a1 + kDot + localized(clear) + kArrow + a2;
    };
    std::string line;
    switch (source) {
        case TriggerSource::bluetooth:
        case TriggerSource::wifiSSID:
        case TriggerSource::network:
            if (source == TriggerSource::bluetooth) {
                line = edges("Connect", "Disconnect");
            } else if (source == TriggerSource::wifiSSID) {
                line = edges("Join", "Leave");
            } else {
                line = edges("Seen", "Gone");
            }
            if (acOnly) {
                line += kDot + localized("AC only");
            }
            if (btBattEnd) {
                line += kDot + localizedFormat("batt <%lld%%", {*btBattEnd});
            }
            return line;
        case TriggerSource::app:
            line = edges("Launch", "Quit");
            if (watchBackground.value_or(false)) {
                line += kDot + localized("background watch");
            }
            if (acOnly) {
                line += kDot + localized("AC only");
            }
            return line;
        case TriggerSource::schedule:
            break;
    }
    if (isOneShot()) {
        line = localizedFormat("At %@", {oneShotDateText(schedDate)}) + kArrow + a1;
        if (firedAt) {
            line += kDot + localized("fired");
        }
    } else if (!schedEndMin) {
        line = localizedFormat("At %@", {timeText(schedStartMin)}) + kArrow + a1 + kDot +
               scheduleSummary();
    } else {
        line = timeText(schedStartMin) + kArrow + a1 + kDot + timeText(schedEndMin) + kArrow + a2 +
               kDot + scheduleSummary();
    }
    if (wakeMac.value_or(false)) {
        line += kDot + localized("wakes computer");
    }
    if (lockAtFire.value_or(false)) {
        line += kDot + localized("locks");
    }
    if (endsManual.value_or(false)) {
        line += kDot + localized("ends manual");
    }
    if (acOnly) {
        line += kDot + localized("AC only");
    }
    return line;
}

std::string TriggerRule::oneShotDateText(const std::optional<Date>& date) {
    return date ? mediumDateShortTimeText(*date) : std::string(kMissing);
}

std::string TriggerRule::timeText(const std::optional<std::int64_t>& minutes) {
    if (!minutes) {
        return kMissing;
    }
    const std::int64_t hour = *minutes / 60;
    const std::int64_t minute = *minutes - hour * 60;
    return shortTimeText(static_cast<int>(hour), static_cast<int>(minute));
}

}  // namespace orvel
