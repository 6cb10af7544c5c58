#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Json.h"
#include "foundation/Result.h"

namespace orvel {

// The compatibility engine's program; also the head of every command line shown to the user.
inline constexpr const char* kCaffeinatePath = "/usr/bin/caffeinate";

// What a session prevents and how the prevention may end by itself.
struct SleepOptions {
    bool preventDisplaySleep = false;
    bool preventIdleSleep = false;
    bool preventDiskSleep = false;
    bool preventSystemSleep = false;
    bool declareUserActive = false;
    // Greater than 0: the prevention ends by itself after this many seconds.
    std::int64_t timeout = 0;
    // When present: the prevention lasts until this process exits.
    std::optional<std::int32_t> watchPID;

    // caffeinate's letters for the switches that are on, always in the order d, i, m, s, u.
    std::string flagLetters() const;
    // The argument list of the caffeinate program: letters, then the timeout pair, then the
    // process pair.
    std::vector<std::string> caffeinateArguments() const;
    // The command line: the program (by default the equivalent one) followed by each argument
    // after one space.
    std::string commandLine(std::string_view program = kCaffeinatePath) const;
    // The power assertion types that keep these switches: display, idle, system, disk; idle
    // sleep when none is on, as caffeinate does.
    std::vector<std::string_view> assertionTypes() const;

    Json toJson() const;
    static Result<SleepOptions> fromJson(const Json& json);

    bool operator==(const SleepOptions&) const = default;
};

}  // namespace orvel
