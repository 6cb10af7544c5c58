#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "foundation/Log.h"

namespace orvel {

// Keeps every record, for tests. Thread-safe.
class RecordingLogSink final : public LogSink {
  public:
    bool isEnabled(LogLevel level, std::string_view) const override;
    void write(const LogRecord& record) override;

    void setMinimumLevel(LogLevel level);
    std::vector<LogRecord> records() const;
    // Messages of one category, in order.
    std::vector<std::string> messages(std::string_view category) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    LogLevel minimum_ = LogLevel::Debug;
    std::vector<LogRecord> records_;
};

}  // namespace orvel
