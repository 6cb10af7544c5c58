#include "platform/linux/LinuxFiles.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>

#include <dirent.h>
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

std::optional<long> readSysfsLevel(const std::string& path) {
    const auto level = readSysfsNumber<long>(path);
    return level && *level >= 0 ? level : std::nullopt;
}

FolderNames listFolder(const std::string& path) {
    FolderNames listing;
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(path.c_str()), ::closedir);
    if (!folder) {
        listing.error = errno;
        return listing;
    }
    listing.opened = true;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(folder.get());
        if (entry == nullptr) {
            listing.error = errno;
            break;
        }
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            listing.names.emplace_back(entry->d_name);
        }
    }
    return listing;
}

}  // namespace orvel
