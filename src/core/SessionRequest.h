#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Date.h"
#include "foundation/UUID.h"

namespace orvel {

// The application whose quitting ends an until-app-quits session.
struct WatchedApplication {
    std::int32_t processIdentifier = 0;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;

    bool operator==(const WatchedApplication&) const = default;
};

// What a caller asks of a session: who owns it, when it ends and what it watches. The controller
// applies it only once an engine holds, so a refused start has nothing to undo.
struct SessionRequest {
    enum class End {
        preset,  // the chosen duration's deadline, counted from the start
        never,   // no deadline
        at,      // `deadline`
    };

    End end = End::preset;
    std::optional<Date> deadline;
    // The rule that owns the session; none for a session the user started.
    std::optional<std::string> ruleName;
    std::optional<UUID> ruleID;
    std::optional<WatchedApplication> watchedApp;
    // The application trigger source's one-off watch that ends the session when the app quits.
    std::optional<std::string> oneOffBundleID;

    // Ends `seconds` from `now`, or never when `seconds` is 0 or less.
    void endAfter(Date now, std::int64_t seconds) {
        end = seconds > 0 ? End::at : End::never;
        deadline =
            seconds > 0 ? std::optional<Date>(now + static_cast<double>(seconds)) : std::nullopt;
    }
};

}  // namespace orvel
