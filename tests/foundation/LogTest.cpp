#include "foundation/Log.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "foundation/AppInfo.h"

namespace orvel {
namespace {

class CapturingSink : public LogSink {
  public:
    bool isEnabled(LogLevel level, std::string_view) const override { return level >= minimum; }
    void write(const LogRecord& record) override { records.push_back(record); }
    LogLevel minimum = LogLevel::Info;
    std::vector<LogRecord> records;
};

TEST(LogTest, LoggerWritesEnabledLevelsToTheInstalledSink) {
    auto sink = std::make_shared<CapturingSink>();
    auto previous = installLogSink(sink);
    Logger log("caffeinate");
    EXPECT_TRUE(log.isInfoEnabled());
    log.debug("hidden");
    log.info("started: %s %@ kept verbatim");
    sink->minimum = LogLevel::Error;
    EXPECT_FALSE(log.isInfoEnabled());
    log.info("dropped");
    log.error("failed");
    installLogSink(previous);

    ASSERT_EQ(sink->records.size(), 2u);
    EXPECT_EQ(sink->records[0].message, "started: %s %@ kept verbatim");
    EXPECT_EQ(sink->records[0].subsystem, kBundleIdentifier);
    EXPECT_EQ(sink->records[0].category, "caffeinate");
    EXPECT_EQ(sink->records[1].level, LogLevel::Error);
}

}  // namespace
}  // namespace orvel
