#include "platform/sim/RecordingLogSink.h"

namespace orvel {

bool RecordingLogSink::isEnabled(LogLevel level, std::string_view) const {
    std::lock_guard lock(mutex_);
    return level >= minimum_;
}

void RecordingLogSink::write(const LogRecord& record) {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
}

void RecordingLogSink::setMinimumLevel(LogLevel level) {
    std::lock_guard lock(mutex_);
    minimum_ = level;
}

std::vector<LogRecord> RecordingLogSink::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<std::string> RecordingLogSink::messages(std::string_view category) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& r : records_) {
        if (r.category == category) {
            out.push_back(r.message);
        }
    }
    return out;
}

void RecordingLogSink::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

}  // namespace orvel
