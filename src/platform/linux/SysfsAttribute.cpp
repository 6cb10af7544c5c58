#include "platform/linux/SysfsAttribute.h"

#include <cctype>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace orvel {

std::optional<std::string> readSysfsAttribute(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    char buffer[256];
    ssize_t length;
    do {
        length = ::read(fd, buffer, sizeof buffer);
    } while (length < 0 && errno == EINTR);
    ::close(fd);
    if (length <= 0) {
        return std::nullopt;
    }
    std::string line(buffer, static_cast<std::size_t>(length));
    if (const auto end = line.find('\n'); end != std::string::npos) {
        line.resize(end);
    }
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
        line.pop_back();
    }
    return line;
}

}  // namespace orvel
