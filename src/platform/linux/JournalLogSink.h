#pragma once

#include "foundation/Log.h"

namespace orvel {

// Writes to the systemd journal with the subsystem and category as fields
// (ORVEL_SUBSYSTEM, ORVEL_CATEGORY), so `journalctl ORVEL_CATEGORY=caffeinate` finds them.
class JournalLogSink final : public LogSink {
  public:
    explicit JournalLogSink(LogLevel minimum = LogLevel::Info) : minimum_(minimum) {}
    bool isEnabled(LogLevel level, std::string_view) const override { return level >= minimum_; }
    void write(const LogRecord& record) override;

    // Whether a journal is there to write to (its socket exists).
    static bool isAvailable();

  private:
    LogLevel minimum_;
};

}  // namespace orvel
