#include "wakehelper/RtcWakeScheduler.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/Log.h"

namespace orvel {

std::int32_t RtcWakeScheduler::setAlarm(std::optional<std::int64_t> unixSeconds) {
    if (const std::int32_t cleared = write("0"); cleared != 0 || !unixSeconds) {
        return cleared;
    }
    return write(std::to_string(*unixSeconds));
}

std::int32_t RtcWakeScheduler::write(const std::string& text) {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        Logger("rtc").error("cannot open " + path_ + ": " + std::strerror(error));
        return -error;
    }
    std::int32_t status = 0;
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written != static_cast<ssize_t>(text.size())) {
        const int error = written < 0 ? errno : EIO;
        Logger("rtc").error("cannot write \"" + text + "\" to " + path_ + ": " +
                            std::strerror(error));
        status = -error;
    }
    if (::close(fd) != 0 && status == 0) {
        const int error = errno;
        Logger("rtc").error("cannot write \"" + text + "\" to " + path_ + ": " +
                            std::strerror(error));
        status = -error;
    }
    return status;
}

}  // namespace orvel
