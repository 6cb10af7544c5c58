#include "foundation/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

namespace orvel {

namespace {

Error systemError(const std::string& what, const std::string& path, int error) {
    return Error{what + " " + path + ": " + std::strerror(error)};
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Closes the descriptor when it goes out of scope.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// "4 KiB", "50 MiB", or the bytes when the size is no whole number of either.
std::string sizeText(std::uint64_t bytes) {
    constexpr std::uint64_t kKiB = 1024;
    constexpr std::uint64_t kMiB = kKiB * kKiB;
    if (bytes >= kMiB && bytes % kMiB == 0) {
        return std::to_string(bytes / kMiB) + " MiB";
    }
    if (bytes >= kKiB && bytes % kKiB == 0) {
        return std::to_string(bytes / kKiB) + " KiB";
    }
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

ReadError systemReadError(const std::string& what, const std::string& path, int error) {
    return ReadError{systemError(what, path, error).message, {}};
}

ReadError tooLarge(const std::string& path, std::string sizes) {
    return ReadError{"Could not read " + path + ": it is too large (" + sizes + ")",
                     std::move(sizes)};
}

Result<std::optional<Data>, ReadError> read(const std::string& path, bool missingIsError,
                                            std::size_t limit) {
    // Non-blocking, so that a pipe in the file's place cannot hold the caller up.
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) {
        if (!missingIsError && (errno == ENOENT || errno == ENOTDIR)) {
            return std::optional<Data>();
        }
        return systemReadError("Could not open", path, errno);
    }
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) {
        return systemReadError("Could not read", path, errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return systemReadError("Could not read", path, EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        return ReadError{"Could not read " + path + ": it is not a regular file", {}};
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size > limit) {
        return tooLarge(path, sizeText(size) + ", over the limit of " + sizeText(limit));
    }
    Data data;
    data.reserve(static_cast<std::size_t>(size));
    unsigned char buffer[16384];
    for (;;) {
        // One byte past the limit is enough to tell a file that grew since its size was taken.
        const std::size_t room = limit - std::min(limit, data.size());
        const ssize_t n = ::read(file.fd, buffer, std::min(sizeof buffer, room + 1));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return systemReadError("Could not read", path, errno);
        }
        if (n == 0) {
            break;
        }
        if (static_cast<std::size_t>(n) > room) {
            return tooLarge(path, "over the limit of " + sizeText(limit));
        }
        data.insert(data.end(), buffer, buffer + n);
    }
    return std::optional<Data>(std::move(data));
}

constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max() - 1;

}  // namespace

Result<std::optional<Data>> readFileIfPresent(const std::string& path) {
    auto bytes = read(path, false, kNoLimit);
    if (!bytes) {
        return Error{bytes.error().message};
    }
    return std::move(*bytes);
}

Result<Data> readFile(const std::string& path) {
    auto bytes = read(path, true, kNoLimit);
    if (!bytes) {
        return Error{bytes.error().message};
    }
    return std::move(**bytes);
}

Result<std::optional<Data>, ReadError> readFileIfPresent(const std::string& path,
                                                         std::size_t limit) {
    return read(path, false, limit);
}

Result<Data, ReadError> readFile(const std::string& path, std::size_t limit) {
    auto bytes = read(path, true, limit);
    if (!bytes) {
        return bytes.error();
    }
    return std::move(**bytes);
}

Result<void> writeFileAtomically(const std::string& path, std::string_view bytes,
                                 const std::function<void()>& beforeReplace) {
    const std::string folder = folderOf(path);
    if (auto made = makeDirectories(folder); !made) {
        return made.error();
    }
    std::string temp = path + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return systemError("Could not write", path, errno);
    }
    std::size_t done = 0;
    int error = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
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
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && beforeReplace) {
        beforeReplace();
    }
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temp.c_str());
        return systemError("Could not write", path, error);
    }
    // The rename is only durable once the folder that records it is synced. Some file systems
    // cannot sync a folder (EINVAL); the file itself is then as safe as they make it.
    const Descriptor dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd < 0) {
        return systemError("Could not sync the folder of", path, errno);
    }
    if (::fsync(dir.fd) != 0 && errno != EINVAL) {
        return systemError("Could not sync the folder of", path, errno);
    }
    return {};
}

Result<void> writeFileAtomically(const std::string& path, const Data& data) {
    return writeFileAtomically(
        path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

Result<void> makeDirectories(const std::string& path) {
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string partial = path.substr(0, i);
            if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
                return systemError("Could not create the folder", partial, errno);
            }
        }
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return systemError("Could not create the folder", path, errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        return systemError("Could not create the folder", path, ENOTDIR);
    }
    return {};
}

}  // namespace orvel
