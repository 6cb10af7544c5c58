#include "foundation/Log.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "foundation/AppInfo.h"

namespace orvel {

namespace {

struct SinkSlot {
    std::mutex mutex;
    std::shared_ptr<LogSink> sink = std::make_shared<StderrLogSink>();
};

SinkSlot& slot() {
    static SinkSlot s;
    return s;
}

}  // namespace

std::string_view logLevelName(LogLevel level) {
    switch (level) {
        case LogLevel::Debug:
            return "debug";
        case LogLevel::Info:
            return "info";
        case LogLevel::Notice:
            return "notice";
        case LogLevel::Error:
            return "error";
        case LogLevel::Fault:
            return "fault";
    }
    return "notice";
}

void StderrLogSink::write(const LogRecord& record) {
    // One fprintf per record keeps lines from different threads whole.
    std::fprintf(stderr, "orvel[%s] %s: %s\n", record.category.c_str(),
                 std::string(logLevelName(record.level)).c_str(), record.message.c_str());
}

std::shared_ptr<LogSink> logSink() {
    std::lock_guard lock(slot().mutex);
    return slot().sink;
}

std::shared_ptr<LogSink> installLogSink(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(slot().mutex);
    return std::exchange(slot().sink, std::move(sink));
}

Logger::Logger(std::string category) : Logger(kBundleIdentifier, std::move(category)) {}

Logger::Logger(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

bool Logger::isEnabled(LogLevel level) const {
    auto sink = logSink();
    return sink && sink->isEnabled(level, category_);
}

void Logger::log(LogLevel level, std::string_view message) const {
    auto sink = logSink();
    if (sink && sink->isEnabled(level, category_)) {
        sink->write(LogRecord{level, subsystem_, category_, std::string(message)});
    }
}

}  // namespace orvel
