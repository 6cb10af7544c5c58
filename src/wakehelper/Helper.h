#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Date.h"
#include "wakehelper/WakeScheduler.h"

namespace orvel {

// The wake helper's one object: the dates it was asked to wake at, and the alarm that holds the
// earliest of them still ahead. Every connection is served by it. Thread-safe: one lock covers
// each request from the replacement of the dates to the alarm's write.
class Helper {
  public:
    using Clock = std::function<Date()>;

    // The kept dates are one request's, at most 64 numbers of at most 24 characters: under
    // 2 KiB. A larger file was not written by the helper and is dropped as a damaged one is.
    static constexpr std::size_t kMaxStateSize = 4096;

    // `statePath` keeps the dates across restarts (empty: kept in memory only).
    Helper(WakeScheduler& scheduler, std::string statePath, Clock clock);
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    // The dates accepted by the last request, in its order, repeats kept.
    std::vector<Date> scheduled() const;
    // Whom the wakes are for.
    const std::string& owner() const { return owner_; }
    // The second the alarm was last set to (nothing: cleared or never set).
    std::optional<std::int64_t> armed() const;

    // Forgets the earlier dates, keeps those of `dates` later than now, saves them and arms the
    // alarm at the earliest; 0, or the failed write's negative errno.
    std::int32_t applyWakes(const std::vector<Date>& dates);
    // Arms the alarm at the earliest kept date still ahead, when that is not the armed one
    // already: after the armed date has passed and after the clock was set.
    std::int32_t rearm();
    // Reads the dates a previous run kept and arms the alarm for them; a damaged or too large
    // file is dropped with one log line.
    void load();

    // One request's payload answered: the reply's payload, and whether the connection ends after
    // it (a refused request). Acts on nothing but this helper.
    struct Answer {
        std::string reply;
        bool close = false;
    };
    Answer answer(std::string_view payload);

  private:
    std::int32_t rearmLocked(bool force);
    void save();

    WakeScheduler& scheduler_;
    std::string statePath_;
    Clock clock_;
    std::string owner_;
    mutable std::mutex mutex_;
    std::vector<Date> scheduled_;
    std::optional<std::int64_t> armed_;
    bool alarmKnown_ = false;
};

}  // namespace orvel
