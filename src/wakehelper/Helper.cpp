#include "wakehelper/Helper.h"

#include <algorithm>
#include <cmath>

#include "foundation/AppInfo.h"
#include "foundation/Data.h"
#include "foundation/FileIO.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/WakeHelperProtocol.h"

namespace orvel {

namespace wp = wake_protocol;

Helper::Helper(WakeScheduler& scheduler, std::string statePath, Clock clock)
    : scheduler_(scheduler),
      statePath_(std::move(statePath)),
      clock_(std::move(clock)),
      owner_(kBundleIdentifier) {}

std::vector<Date> Helper::scheduled() const {
    std::lock_guard lock(mutex_);
    return scheduled_;
}

std::optional<std::int64_t> Helper::armed() const {
    std::lock_guard lock(mutex_);
    return armed_;
}

std::int32_t Helper::applyWakes(const std::vector<Date>& dates) {
    std::lock_guard lock(mutex_);
    scheduled_.clear();
    for (const Date date : dates) {
        // The clock is read afresh for each date, as a long request may cross one.
        if (date > clock_()) {
            scheduled_.push_back(date);
        }
    }
    save();
    return rearmLocked(false);
}

std::int32_t Helper::rearm() {
    std::lock_guard lock(mutex_);
    return rearmLocked(false);
}

std::int32_t Helper::rearmLocked(bool force) {
    const Date current = clock_();
    std::optional<std::int64_t> next;
    for (const Date date : scheduled_) {
        if (date > current) {
            // The alarm counts whole seconds; rounding up never wakes before the date.
            const auto seconds = static_cast<std::int64_t>(std::ceil(date.unixTime()));
            next = next ? std::min(*next, seconds) : seconds;
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
            Logger("helper").error("the kept wake dates in " + statePath_ + " are too large (" +
                                   data.error().tooLarge + ") and were dropped");
        } else if (!data.ok()) {
            Logger("helper").error(data.error().message);
        } else if (data.value()) {
            auto json = parseJson(stringFromData(*data.value()));
            if (!json.ok() || !json->is_array()) {
                Logger("helper").error("the kept wake dates in " + statePath_ +
                                       " are unreadable and were dropped");
            } else {
                for (const auto& element : json.value()) {
                    if (element.is_number()) {
                        scheduled_.push_back(Date::fromUnix(element.get<double>()));
                    }
                }
            }
        }
    }
    rearmLocked(true);
}

void Helper::save() {
    if (statePath_.empty()) {
        return;
    }
    Json array = Json::array();
    for (const Date date : scheduled_) {
        array.push_back(date.unixTime());
    }
    auto text = dumpJson(array);
    if (!text.ok()) {
        Logger("helper").error(text.error().message);
        return;
    }
    if (auto written = writeFileAtomically(statePath_, text.value()); !written.ok()) {
        Logger("helper").error(written.error().message);
    }
}

Helper::Answer Helper::answer(std::string_view payload) {
    auto request = wp::parseRequest(payload);
    if (!request.ok()) {
        return {wp::encodeStatus(request.error()), true};
    }
    if (request->op == wp::Request::Op::ping) {
        return {wp::encodeVersion(), false};
    }
    return {wp::encodeStatus(applyWakes(request->dates)), false};
}

}  // namespace orvel
