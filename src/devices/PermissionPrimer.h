#pragma once

#include <deque>
#include <functional>
#include <optional>

#include "foundation/WeakRef.h"

namespace orvel {

class Preferences;

// The first-run permission explanation and request for blocking built-in input.
//
// This is its first, least form: no permission can be granted yet, so a request ends as "not
// granted" on the next turn of the main loop, which turns the switch that asked back off.
// Tests hold requests and answer them themselves.
class PermissionPrimer {
  public:
    static PermissionPrimer& shared();

    // Starts the explanation and request for the switch whose `revert` action is given. Main
    // thread; finishes asynchronously through Preferences::permissionRequestFinished.
    static void explainIfNeeded(WeakRef<Preferences> prefs, std::function<void()> revert);

    // For tests: keep requests pending until finish() answers them.
    void setHoldsRequests(bool holds) { holds_ = holds; }
    std::size_t pendingCount() const { return pending_.size(); }
    std::size_t requestCount() const { return requests_; }
    // Answers the oldest pending request.
    void finish(bool granted);

  private:
    struct Request {
        WeakRef<Preferences> prefs;
        std::function<void()> revert;
    };
    PermissionPrimer() = default;

    std::deque<Request> pending_;
    bool holds_ = false;
    std::size_t requests_ = 0;
};

}  // namespace orvel
