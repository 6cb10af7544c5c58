#include "platform/linux/LinuxUncachedReader.h"

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
#include <memory>
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
        const bool regular = known && S_ISREG(info.st_mode);
        entries.push_back(DirectoryEntry{std::move(name), regular, known && S_ISDIR(info.st_mode),
                                         regular ? static_cast<std::uint64_t>(info.st_size) : 0});
    }
    return entries;
}

Result<UncachedRead> LinuxUncachedReader::readBlock(std::string_view targetView) {
    const std::string target(targetView);
    UncachedReadPath path = UncachedReadPath::dropBehind;
    UniqueFd fd;
    if (direct_) {
        fd = openForReading(target, O_DIRECT);
        if (fd) {
            path = UncachedReadPath::direct;
        } else if (errno != EINVAL) {
            return Error{"opening " + target + " failed: " + reason(errno)};
        }
    }
    if (!fd) {
        fd = openForReading(target, 0);
        if (!fd) {
            return Error{"opening " + target + " failed: " + reason(errno)};
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
