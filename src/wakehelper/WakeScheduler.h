#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// The machine's one wake alarm. Threading: called under the helper's lock, from one thread at a
// time.

namespace orvel {

class WakeScheduler {
  public:
    virtual ~WakeScheduler() = default;

    // Arms the alarm at `unixSeconds`, or clears it (nothing); 0, or a negative errno.
    virtual std::int32_t setAlarm(std::optional<std::int64_t> unixSeconds) = 0;
};

// Keeps every setting in memory, for tests and the fuzzer; can be told to fail.
class RecordingWakeScheduler final : public WakeScheduler {
  public:
    std::int32_t setAlarm(std::optional<std::int64_t> unixSeconds) override {
        settings.push_back(unixSeconds);
        return failure;
    }

    std::vector<std::optional<std::int64_t>> settings;
    std::int32_t failure = 0;
};

}  // namespace orvel
