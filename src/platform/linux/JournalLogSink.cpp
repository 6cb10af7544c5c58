#include "platform/linux/JournalLogSink.h"

#include <syslog.h>
#include <unistd.h>

#include <systemd/sd-journal.h>

namespace orvel {

namespace {

int priority(LogLevel level) {
    switch (level) {
        case LogLevel::Debug:
            return LOG_DEBUG;
        case LogLevel::Info:
            return LOG_INFO;
        case LogLevel::Notice:
            return LOG_NOTICE;
        case LogLevel::Error:
            return LOG_ERR;
        case LogLevel::Fault:
            return LOG_CRIT;
    }
    return LOG_NOTICE;
}

}  // namespace

void JournalLogSink::write(const LogRecord& record) {
    // "%s" keeps the message from ever being read as a format.
    sd_journal_send("MESSAGE=%s", record.message.c_str(), "PRIORITY=%d", priority(record.level),
                    "SYSLOG_IDENTIFIER=orvel", "ORVEL_SUBSYSTEM=%s", record.subsystem.c_str(),
                    "ORVEL_CATEGORY=%s", record.category.c_str(), nullptr);
}

bool JournalLogSink::isAvailable() {
    return ::access("/run/systemd/journal/socket", W_OK) == 0;
}

}  // namespace orvel
