#pragma once

#include <memory>
#include <string>
#include <string_view>

// Operational logging by subsystem and category. Threading: any thread.

namespace orvel {

enum class LogLevel { Debug, Info, Notice, Error, Fault };

std::string_view logLevelName(LogLevel level);

struct LogRecord {
    LogLevel level;
    std::string subsystem;
    std::string category;
    std::string message;
};

// Where log records go. Implementations must be thread-safe.
class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual bool isEnabled(LogLevel level, std::string_view category) const = 0;
    virtual void write(const LogRecord& record) = 0;
};

// Writes "orvel[category] level: message" lines to standard error.
class StderrLogSink final : public LogSink {
  public:
    explicit StderrLogSink(LogLevel minimum = LogLevel::Info) : minimum_(minimum) {}
    bool isEnabled(LogLevel level, std::string_view) const override { return level >= minimum_; }
    void write(const LogRecord& record) override;

  private:
    LogLevel minimum_;
};

// The installed sink (standard error until another is installed).
std::shared_ptr<LogSink> logSink();
// Installs a sink and returns the previous one.
std::shared_ptr<LogSink> installLogSink(std::shared_ptr<LogSink> sink);

// A logger for one category of the application's subsystem. Messages are plain text, never
// format strings.
class Logger {
  public:
    explicit Logger(std::string category);
    Logger(std::string subsystem, std::string category);

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

    bool isEnabled(LogLevel level) const;
    bool isInfoEnabled() const { return isEnabled(LogLevel::Info); }

    void log(LogLevel level, std::string_view message) const;
    void debug(std::string_view message) const { log(LogLevel::Debug, message); }
    void info(std::string_view message) const { log(LogLevel::Info, message); }
    void notice(std::string_view message) const { log(LogLevel::Notice, message); }
    void error(std::string_view message) const { log(LogLevel::Error, message); }
    void fault(std::string_view message) const { log(LogLevel::Fault, message); }

  private:
    std::string subsystem_;
    std::string category_;
};

}  // namespace orvel
