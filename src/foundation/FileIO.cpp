#include "foundation/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvel {

namespace {

Error systemError(const std::string& what, const std::string& path, int error) {
    return Error{what + " " + path + ": " + std::strerror(error)};
}

}  // namespace

Result<Data> readFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return systemError("Could not open", path, errno);
    }
    Data data;
    unsigned char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return systemError("Could not read", path, error);
        }
        if (n == 0) {
            break;
        }
        data.insert(data.end(), buffer, buffer + n);
    }
    ::close(fd);
    return data;
}

Result<void> writeFileAtomically(const std::string& path, const Data& data) {
    std::string temp = path + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return systemError("Could not write", path, errno);
    }
    std::size_t done = 0;
    int error = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    ::close(fd);
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temp.c_str());
        return systemError("Could not write", path, error);
    }
    return {};
}

bool makeDirectories(const std::string& path) {
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string partial = path.substr(0, i);
            if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace orvel
