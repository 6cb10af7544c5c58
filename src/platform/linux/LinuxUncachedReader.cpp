#include "platform/linux/LinuxUncachedReader.h"

#include "foundation/FileIO.h"
#include "foundation/Log.h"
#include "platform/linux/LinuxFiles.h"
#include "platform/linux/UniqueFd.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

namespace orvel {

namespace {

constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassIdle = 3;
constexpr int kIoprioClassShift = 13;

std::string reason(int error) {
    return std::generic_category().message(error);
}

std::uint64_t systemRandom() {
    std::uint64_t value = 0;
    if (::getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
        return 0;
    }
    return value;
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

DirectoryEntry entryOf(std::string name, const struct stat& info) {
    const bool regular = S_ISREG(info.st_mode);
    return DirectoryEntry{std::move(name),
                          regular,
                          S_ISDIR(info.st_mode),
                          regular ? static_cast<std::uint64_t>(info.st_size) : 0,
                          static_cast<std::uint64_t>(info.st_blocks) * 512,
                          info.st_uid,
                          info.st_mode & 07777u,
                          static_cast<std::uint64_t>(info.st_dev)};
}

// Why the open file is not the trusted one it was chosen as; nothing when it is.
std::optional<std::string> untrusted(int fd, const std::string& target,
                                     const TrustedFile& trusted) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return "looking at " + target + " failed: " + reason(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return target + " is no regular file";
    }
    if (static_cast<std::uint64_t>(info.st_dev) != trusted.device) {
        return target + " is on another file system";
    }
    if (info.st_uid != trusted.user && info.st_uid != 0) {
        return target + " belongs to another user (uid " + std::to_string(info.st_uid) + ")";
    }
    if (isSparse(static_cast<std::uint64_t>(info.st_size),
                 static_cast<std::uint64_t>(info.st_blocks) * 512)) {
        return target + " is sparse: its holes are read from no disk";
    }
    return std::nullopt;
}

// Opens read-only without changing the access time where the owner allows it.
UniqueFd openForReading(const std::string& target, int extra) {
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | extra;
    int fd = ::open(target.c_str(), flags | O_NOATIME);
    if (fd < 0 && errno == EPERM) {
        fd = ::open(target.c_str(), flags);
    }
    return UniqueFd(fd);
}

}  // namespace

void LinuxUncachedReader::lowerThreadPriority() {
    // Who 0 is the calling thread.
    if (::syscall(SYS_ioprio_set, kIoprioWhoProcess, 0, kIoprioClassIdle << kIoprioClassShift) !=
        0) {
        Logger("drives").notice("The drive reader keeps its normal I/O priority: " + reason(errno));
    }
}

std::string LinuxUncachedReader::ownFolder(const xdg::Environment& env) {
    const std::filesystem::path folder = xdg::cacheHome(env) + "/orvel";
    std::error_code error;
    const auto resolved = std::filesystem::weakly_canonical(folder, error);
    return error ? folder.string() : resolved.string();
}

std::uint32_t LinuxUncachedReader::user() const {
    return ::geteuid();
}

Result<std::vector<DirectoryEntry>> LinuxUncachedReader::listDirectory(std::string_view path) {
    const std::string folder(path);
    FolderNames listing = listFolder(folder);
    if (!listing.opened) {
        return Error{"listing " + folder + " failed: " + reason(listing.error)};
    }
    // A read that stopped early still lists what it found: any one file will do.
    std::vector<DirectoryEntry> entries;
    for (std::string& name : listing.names) {
        struct stat info {};
        const bool known =
            ::fstatat(AT_FDCWD, (folder + "/" + name).c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        entries.push_back(known ? entryOf(std::move(name), info) : DirectoryEntry{std::move(name)});
    }
    return entries;
}

Result<DirectoryEntry> LinuxUncachedReader::inspect(std::string_view pathView) {
    const std::string path(pathView);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return Error{"looking at " + path + " failed: " + reason(errno)};
    }
    return entryOf(path.substr(path.rfind('/') + 1), info);
}

Result<void> LinuxUncachedReader::keepFile(std::string_view pathView, std::uint64_t size) {
    const std::string path(pathView);
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
        static_cast<std::uint64_t>(info.st_size) == size &&
        !isSparse(size, static_cast<std::uint64_t>(info.st_blocks) * 512)) {
        return {};
    }
    std::string bytes(size, '\0');
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::getrandom(bytes.data() + done, bytes.size() - done, 0);
        if (n < 0 && errno != EINTR) {
            return Error{"no random bytes for " + path + ": " + reason(errno)};
        }
        done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    return writeFileAtomically(path, bytes);
}

Result<UncachedRead> LinuxUncachedReader::readBlock(std::string_view targetView,
                                                    const TrustedFile* trusted) {
    const std::string target(targetView);
    const int noFollow = trusted != nullptr ? O_NOFOLLOW : 0;
    UncachedReadPath path = UncachedReadPath::dropBehind;
    UniqueFd fd;
    if (direct_) {
        fd = openForReading(target, O_DIRECT | noFollow);
        if (fd) {
            path = UncachedReadPath::direct;
        } else if (errno != EINVAL) {
            return Error{"opening " + target + " failed: " + reason(errno)};
        }
    }
    if (!fd) {
        fd = openForReading(target, noFollow);
        if (!fd) {
            return Error{"opening " + target + " failed: " + reason(errno)};
        }
    }
    if (trusted != nullptr) {
        if (auto why = untrusted(fd.get(), target, *trusted)) {
            return Error{*why};
        }
    }
    const off_t size = ::lseek(fd.get(), 0, SEEK_END);
    if (size < 0) {
        return Error{"finding the size of " + target + " failed: " + reason(errno)};
    }
    const std::uint64_t offset =
        uncachedReadOffset(static_cast<std::uint64_t>(size), systemRandom());
    std::unique_ptr<void, FreeDeleter> buffer(
        std::aligned_alloc(kUncachedBlockSize, kUncachedBlockSize));
    if (!buffer) {
        return Error{"no memory for a read buffer"};
    }
    auto cachedRead = [&]() -> ssize_t {
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
        const ssize_t n =
            ::pread(fd.get(), buffer.get(), kUncachedBlockSize, static_cast<off_t>(offset));
        const int saved = errno;
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
        errno = saved;
        return n;
    };
    ssize_t n = 0;
    if (path == UncachedReadPath::direct) {
        n = ::pread(fd.get(), buffer.get(), kUncachedBlockSize, static_cast<off_t>(offset));
        if (n < 0 && errno == EINVAL) {
            // Some file systems take O_DIRECT at open and refuse it at the read.
            const int flags = ::fcntl(fd.get(), F_GETFL);
            if (flags >= 0 && ::fcntl(fd.get(), F_SETFL, flags & ~O_DIRECT) == 0) {
                path = UncachedReadPath::dropBehind;
                n = cachedRead();
            }
        }
    } else {
        n = cachedRead();
    }
    if (n < 0) {
        return Error{"reading " + target + " failed: " + reason(errno)};
    }
    return UncachedRead{offset, static_cast<std::uint64_t>(n), path};
}

}  // namespace orvel
