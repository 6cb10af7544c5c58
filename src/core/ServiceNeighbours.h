#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/UUID.h"
#include "foundation/WeakRef.h"

namespace orvel {

class Preferences;

// How a session ended, as its participants hear it.
struct SessionEnd {
    std::optional<UUID> owner;  // the rule that owned the session; none for the user's own
    bool manual = false;        // ended by hand rather than by its own course
};

// A service that follows the session. The controller tells its participants in the order they
// were registered; that order is part of the behaviour (a test pins it).
class SessionParticipant {
  public:
    virtual ~SessionParticipant() = default;
    // The engine holds and the session is active; its clock and saved state come next.
    virtual void sessionHolding() {}
    // The started session is in place: counting down and saved.
    virtual void sessionStarted() {}
    virtual void sessionStopped(const SessionEnd& end) { (void)end; }
};

// The watch of the one application an until-app-quits session waits for.
class OneOffWatch {
  public:
    virtual ~OneOffWatch() = default;
    virtual std::optional<std::string> watchedOneOff() const = 0;
    virtual void watchOneOff(const std::string& bundleID) = 0;
    virtual void clearOneOff() = 0;
};

// The power safety rules the controller consults when it starts and when the battery rule ends a
// session.
class PowerSafety {
  public:
    virtual ~PowerSafety() = default;
    // Why sessions may not start now, if they may not.
    virtual std::optional<std::string> blockReason() const = 0;
    virtual bool runsOnUPS() const = 0;
    // Keeps a session the battery rule ended, to resume with `remaining` seconds (none: no end)
    // once the battery allows.
    virtual void keepForResume(std::optional<std::int64_t> remaining) = 0;
    virtual void refreshNotice() = 0;
};

// The services above the session core that it tells or asks, reached through accessors so that
// each is still built on first use. The application hands them to the controller as it builds it;
// the core includes none of those services.
struct ServiceNeighbours {
    std::vector<std::function<SessionParticipant&()>> participants;  // in the order they are told
    std::function<OneOffWatch&()> oneOffWatch;
    std::function<PowerSafety&()> powerSafety;
};

}  // namespace orvel
