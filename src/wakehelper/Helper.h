#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Date.h"
#include "wakehelper/WakeScheduler.h"

namespace orvel {

// The wake helper's one object: the dates each user asked to wake at, and the alarm that holds
// the earliest of them all still ahead. Every connection is served by it. Thread-safe: one lock
// covers each request from the replacement of the dates to the alarm's write.
class Helper {
  public:
    using Clock = std::function<Date()>;
    using UserID = std::uint32_t;

    // Who sent a request, as the kernel tells it of the socket's peer.
    struct Peer {
        UserID uid = 0;
        int pid = 0;
    };
    // One kept date and the user whose it is.
    struct Wake {
        UserID uid = 0;
        Date date;
        bool operator==(const Wake&) const = default;
    };

    // So that no user can crowd the others out of the kept file: dates are kept for this many
    // users at most, at most a request's 64 each, none further ahead than this (Orvel sends its
    // dates every 20 s, so a later one arrives once it comes within reach).
    static constexpr std::size_t kMaxUsers = 16;
    static constexpr double kHorizonSeconds = 31 * 86400.0;
    // 16 users' 64 dates of under 48 characters each fit.
    static constexpr std::size_t kMaxStateSize = 64 * 1024;

    // `statePath` keeps the dates across restarts (empty: kept in memory only).
    Helper(WakeScheduler& scheduler, std::string statePath, Clock clock);
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    // One user's kept dates, in the order of their last request, repeats kept.
    std::vector<Date> scheduled(UserID uid) const;
    // Every kept date, by user.
    std::vector<Wake> allScheduled() const;
    // Whom the wakes are for.
    const std::string& owner() const { return owner_; }
    // The second the alarm was last set to (nothing: cleared or never set).
    std::optional<std::int64_t> armed() const;

    // Replaces the dates of the peer's user with those of `dates` later than now and within
    // the horizon, leaving every other user's alone, saves them and arms the alarm at the
    // earliest of all; 0, the failed write's negative errno, or kStatusTooManyUsers.
    std::int32_t applyWakes(const Peer& peer, const std::vector<Date>& dates);
    // Arms the alarm at the earliest kept date still ahead, when that is not the armed one
    // already: after the armed date has passed and after the clock was set.
    std::int32_t rearm();
    // Reads the dates a previous run kept and arms the alarm for them; a damaged or too large
    // file is dropped with one log line.
    void load();

    // One request's payload answered: the reply's payload, and whether the connection ends after
    // it (a refused request). Acts on nothing but this helper, for the peer's user only.
    struct Answer {
        std::string reply;
        bool close = false;
    };
    Answer answer(std::string_view payload, const Peer& peer);

  private:
    std::int32_t rearmLocked(bool force);
    // Forgets the dates that have passed; true when there were any.
    bool dropPassedLocked();
    void save();

    WakeScheduler& scheduler_;
    std::string statePath_;
    Clock clock_;
    std::string owner_;
    mutable std::mutex mutex_;
    std::map<UserID, std::vector<Date>> scheduled_;
    std::optional<std::int64_t> armed_;
    bool alarmKnown_ = false;
};

}  // namespace orvel
