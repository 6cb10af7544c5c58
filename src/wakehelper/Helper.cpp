#include "wakehelper/Helper.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "foundation/AppInfo.h"
#include "foundation/Data.h"
#include "foundation/FileIO.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/WakeHelperProtocol.h"

namespace orvel {

namespace wp = wake_protocol;

namespace {

const Logger& log() {
    static const Logger logger("helper");
    return logger;
}

std::string utc(std::int64_t seconds) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    char text[32];
    if (::gmtime_r(&t, &parts) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0) {
        return std::to_string(seconds);
    }
    return text;
}

// The alarm counts whole seconds; rounding up never wakes before the date.
std::int64_t alarmSecond(Date date) {
    return static_cast<std::int64_t>(std::ceil(date.unixTime()));
}

std::string datesText(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " wake date" : " wake dates");
}

std::string who(const Helper::Peer& peer) {
    return "uid " + std::to_string(peer.uid) + " (process " + std::to_string(peer.pid) + ")";
}

}  // namespace

Helper::Helper(WakeScheduler& scheduler, std::string statePath, Clock clock)
    : scheduler_(scheduler),
      statePath_(std::move(statePath)),
      clock_(std::move(clock)),
      owner_(kBundleIdentifier) {}

std::vector<Date> Helper::scheduled(UserID uid) const {
    std::lock_guard lock(mutex_);
    const auto found = scheduled_.find(uid);
    return found == scheduled_.end() ? std::vector<Date>{} : found->second;
}

std::vector<Helper::Wake> Helper::allScheduled() const {
    std::lock_guard lock(mutex_);
    std::vector<Wake> all;
    for (const auto& [uid, dates] : scheduled_) {
        for (const Date date : dates) {
            all.push_back({uid, date});
        }
    }
    return all;
}

std::optional<std::int64_t> Helper::armed() const {
    std::lock_guard lock(mutex_);
    return armed_;
}

std::int32_t Helper::applyWakes(const Peer& peer, const std::vector<Date>& dates) {
    std::lock_guard lock(mutex_);
    std::vector<Date> kept;
    std::size_t beyond = 0;
    for (const Date date : dates) {
        // The clock is read afresh for each date, as a long request may cross one.
        const Date current = clock_();
        if (date.timeIntervalSince(current) > kHorizonSeconds) {
            ++beyond;
        } else if (date > current) {
            kept.push_back(date);
        }
    }
    const auto found = scheduled_.find(peer.uid);
    const std::vector<Date> before =
        found == scheduled_.end() ? std::vector<Date>{} : found->second;
    const bool passed = dropPassedLocked();
    if (found == scheduled_.end() && !kept.empty() && scheduled_.size() >= kMaxUsers) {
        log().notice(who(peer) + " was refused: " + wp::describeStatus(wp::kStatusTooManyUsers));
        if (passed) {
            save();
        }
        return wp::kStatusTooManyUsers;
    }
    if (kept.empty()) {
        scheduled_.erase(peer.uid);
    } else {
        scheduled_[peer.uid] = kept;
    }
    const bool changed = kept != before;
    if (changed || passed) {
        save();
    }
    const std::int32_t status = rearmLocked(false);
    if (changed) {
        std::string line =
            who(peer) + (kept.empty()
                             ? " cleared its " + datesText(before.size())
                             : " replaced its " + datesText(before.size()) + " with " +
                                   std::to_string(kept.size()) + ", the earliest at " +
                                   utc(alarmSecond(*std::min_element(kept.begin(), kept.end()))));
        if (beyond > 0) {
            line += " (" + datesText(beyond) + " more than 31 days ahead left for later)";
        }
        line += armed_ ? "; the alarm is set for " + utc(*armed_) : "; no alarm is set";
        log().notice(line);
    }
    return status;
}

bool Helper::dropPassedLocked() {
    const Date current = clock_();
    bool dropped = false;
    for (auto it = scheduled_.begin(); it != scheduled_.end();) {
        dropped |= std::erase_if(it->second, [&](Date date) { return !(date > current); }) > 0;
        it = it->second.empty() ? scheduled_.erase(it) : std::next(it);
    }
    return dropped;
}

std::int32_t Helper::rearm() {
    std::lock_guard lock(mutex_);
    if (dropPassedLocked()) {
        save();
    }
    return rearmLocked(false);
}

std::int32_t Helper::rearmLocked(bool force) {
    const Date current = clock_();
    std::optional<std::int64_t> next;
    for (const auto& [uid, dates] : scheduled_) {
        for (const Date date : dates) {
            if (date > current) {
                next = next ? std::min(*next, alarmSecond(date)) : alarmSecond(date);
            }
        }
    }
    if (alarmKnown_ && !force && next == armed_) {
        return 0;
    }
    const std::int32_t status = scheduler_.setAlarm(next);
    // A failed write leaves the alarm unknown: the next request writes it again.
    alarmKnown_ = status == 0;
    armed_ = alarmKnown_ ? next : std::nullopt;
    return status;
}

void Helper::load() {
    std::lock_guard lock(mutex_);
    if (!statePath_.empty()) {
        auto data = readFileIfPresent(statePath_, kMaxStateSize);
        if (!data.ok() && !data.error().tooLarge.empty()) {
            log().error("the kept wake dates in " + statePath_ + " are too large (" +
                        data.error().tooLarge + ") and were dropped");
        } else if (!data.ok()) {
            log().error(data.error().message);
        } else if (data.value()) {
            auto json = parseJson(stringFromData(*data.value()));
            if (!json.ok() || !json->is_array()) {
                log().error("the kept wake dates in " + statePath_ +
                            " are unreadable and were dropped");
            } else {
                const auto isDate = [](const Json& value) {
                    return value.is_number() && std::isfinite(value.get<double>()) &&
                           value.get<double>() >= 0 && value.get<double>() <= wp::kMaxDateSeconds;
                };
                std::size_t ownerless = 0;
                std::size_t unreadable = 0;
                for (const auto& element : json.value()) {
                    // An earlier helper kept bare dates. They are taken as root's: every wake it
                    // was asked for still happens and passes as it would have, and only root,
                    // who may edit this file anyway, can replace them sooner.
                    if (isDate(element)) {
                        scheduled_[0].push_back(Date::fromUnix(element.get<double>()));
                        ++ownerless;
                        continue;
                    }
                    const auto uid = element.is_object() ? element.find("uid") : element.end();
                    const auto date = element.is_object() ? element.find("date") : element.end();
                    if (uid == element.end() || date == element.end() ||
                        !uid->is_number_unsigned() || uid->get<std::uint64_t>() >= UINT32_MAX ||
                        !isDate(*date)) {
                        ++unreadable;
                        continue;
                    }
                    scheduled_[static_cast<UserID>(uid->get<std::uint64_t>())].push_back(
                        Date::fromUnix(date->get<double>()));
                }
                if (ownerless > 0) {
                    log().notice("the kept wake dates in " + statePath_ +
                                 " name no user (an earlier helper wrote them): " +
                                 datesText(ownerless) + " taken as root's, to pass as before");
                }
                if (unreadable > 0) {
                    log().error(std::to_string(unreadable) + " of the kept entries in " +
                                statePath_ + " are not wake dates and were dropped");
                }
            }
        }
    }
    if (dropPassedLocked()) {
        save();
    }
    rearmLocked(true);
}

void Helper::save() {
    if (statePath_.empty()) {
        return;
    }
    Json array = Json::array();
    for (const auto& [uid, dates] : scheduled_) {
        for (const Date date : dates) {
            array.push_back(Json{{"uid", uid}, {"date", date.unixTime()}});
        }
    }
    auto text = dumpJson(array);
    if (!text.ok()) {
        log().error(text.error().message);
        return;
    }
    if (auto written = writeFileAtomically(statePath_, text.value()); !written.ok()) {
        log().error(written.error().message);
    }
}

Helper::Answer Helper::answer(std::string_view payload, const Peer& peer) {
    auto request = wp::parseRequest(payload);
    if (!request.ok()) {
        return {wp::encodeStatus(request.error()), true};
    }
    if (request->op == wp::Request::Op::ping) {
        return {wp::encodeVersion(), false};
    }
    const std::int32_t status = applyWakes(peer, request->dates);
    return {wp::encodeStatus(status), status > 0};
}

}  // namespace orvel
