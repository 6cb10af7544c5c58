#include "app/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>

#include "foundation/FileIO.h"
#include "foundation/Log.h"

namespace orvel {

namespace {

constexpr double kRequestSeconds = 2.0;
constexpr std::size_t kMaxConnections = 8;
constexpr std::size_t kMaxLine = 64;
// How often a launch looks again while the first instance is still binding its socket.
constexpr int kRetryMilliseconds = 50;

const Logger& log() {
    static const Logger logger("app");
    return logger;
}

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd) { Descriptor old(std::exchange(fd_, fd)); }

  private:
    int fd_;
};

// The address of `name` in `folder`. A path too long for an address goes through the folder's
// descriptor, which `hold` keeps open while the address is used.
bool socketAddress(const std::string& folder, const std::string& name, sockaddr_un& address,
                   Descriptor& hold) {
    address = {};
    address.sun_family = AF_UNIX;
    std::string path = folder + "/" + name;
    if (path.size() >= sizeof address.sun_path) {
        hold.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (hold.get() < 0) {
            return false;
        }
        path = "/proc/self/fd/" + std::to_string(hold.get()) + "/" + name;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool peerIsThisUser(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
           credentials.uid == ::getuid();
}

// The process the lock file names, as its holder wrote it.
std::string holderOf(int lockFd) {
    char text[32] = {};
    const ssize_t n = ::pread(lockFd, text, sizeof text - 1, 0);
    const long pid = n > 0 ? std::strtol(text, nullptr, 10) : 0;
    return pid > 0 ? std::to_string(pid) : std::string();
}

// What the first instance said it showed: one line of plain text.
std::optional<std::string> shown(const std::string& answer) {
    if (answer.size() < 2 || answer.back() != '\n') {
        return std::nullopt;
    }
    for (std::size_t i = 0; i + 1 < answer.size(); ++i) {
        if (answer[i] < ' ' || answer[i] > '~') {
            return std::nullopt;
        }
    }
    return answer.substr(0, answer.size() - 1);
}

// Connects to the first instance, sends the request and waits for the answer until `deadline`:
// what it showed, or nothing when it was not reached or did not answer.
std::optional<std::string> askToOpenPanel(const std::string& folder,
                                          std::chrono::steady_clock::time_point deadline) {
    sockaddr_un address;
    Descriptor hold;
    if (!socketAddress(folder, SingleInstance::kSocketName, address, hold)) {
        return std::nullopt;
    }
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0 ||
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        !peerIsThisUser(fd.get())) {
        return std::nullopt;
    }
    const std::string_view request = SingleInstance::kRequest;
    if (::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        return std::nullopt;
    }
    std::string answer;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd readable{fd.get(), POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(std::max<long>(0, left.count())));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        char buffer[16];
        const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return std::nullopt;
        }
        answer.append(buffer, static_cast<std::size_t>(n));
        if (answer.find('\n') != std::string::npos || answer.size() > kMaxLine) {
            return shown(answer);
        }
    }
}

}  // namespace

struct SingleInstance::Connection {
    Descriptor fd;
    std::string line;
    FdWatch watch;
    Timer deadline;
};

SingleInstance::Claim SingleInstance::claim(const std::string& folder, double answerSeconds) {
    Claim claim;
    const auto unguarded = [&](std::string why) {
        claim.message = "Another Orvel may start beside this one: " + why + ".";
        return std::move(claim);
    };
    if (auto made = makeDirectories(folder); !made) {
        return unguarded(made.error().message);
    }
    const std::string lockPath = folder + "/" + kLockName;
    Descriptor lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (lock.get() < 0) {
        return unguarded(systemError("could not open " + lockPath));
    }
    struct stat info {};
    if (::fstat(lock.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid()) {
        return unguarded(lockPath + " is not a file of this user's");
    }
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(static_cast<long>(std::fmax(0, answerSeconds) * 1000));
    for (;;) {
        if (::flock(lock.get(), LOCK_EX | LOCK_NB) == 0) {
            const std::string pid = std::to_string(::getpid()) + "\n";
            if (::ftruncate(lock.get(), 0) != 0 ||
                ::pwrite(lock.get(), pid.data(), pid.size(), 0) < 0) {
                log().notice(systemError("Could not write this process's id to " + lockPath));
            }
            claim.instance.reset(new SingleInstance(folder, lock.release()));
            claim.outcome = Outcome::first;
            claim.message = claim.instance->listen();
            return claim;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return unguarded(systemError("could not lock " + lockPath));
        }
        if (auto what = askToOpenPanel(folder, deadline)) {
            claim.outcome = Outcome::handedOver;
            claim.message = std::move(*what);
            return claim;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        // The first instance may still be binding its socket, or be on its way out.
        ::poll(nullptr, 0, kRetryMilliseconds);
    }
    const std::string holder = holderOf(lock.get());
    claim.outcome = Outcome::noAnswer;
    claim.message = "Orvel is already running" +
                    (holder.empty() ? std::string() : " (process " + holder + ")") +
                    " but did not answer within " + std::to_string(std::lround(answerSeconds)) +
                    " s, so no second one was started. If it is stuck, end it" +
                    (holder.empty() ? std::string() : " (kill " + holder + ")") +
                    " and start Orvel again.";
    return claim;
}

SingleInstance::SingleInstance(std::string folder, int lockFd)
    : folder_(std::move(folder)), lockFd_(lockFd) {}

SingleInstance::~SingleInstance() {
    connections_.clear();
    listenWatch_.cancel();
    if (listenFd_ >= 0) {
        // Still under the lock, so the name is this instance's to remove.
        ::unlink((folder_ + "/" + kSocketName).c_str());
        ::close(listenFd_);
    }
    ::close(lockFd_);
}

// Nothing on success; else why other launches cannot reach this instance.
std::string SingleInstance::listen() {
    // Bound and listening under a name of its own, then renamed into place: a launch never
    // finds a socket that refuses it. Whatever was there came from an instance that has gone.
    const std::string staging = std::string(kSocketName) + ".new";
    sockaddr_un address;
    Descriptor hold;
    const auto failed = [&](const std::string& what) {
        const std::string why = systemError(what);
        if (listenFd_ >= 0) {
            ::close(listenFd_);
            listenFd_ = -1;
        }
        return "Other launches of Orvel cannot reach this one: " + why + ".";
    };
    if (!socketAddress(folder_, staging, address, hold)) {
        return failed("could not open " + folder_);
    }
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        return failed("could not make a socket");
    }
    ::unlink(address.sun_path);
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return failed("could not bind " + folder_ + "/" + staging);
    }
    if (::listen(listenFd_, 8) != 0 ||
        ::rename((folder_ + "/" + staging).c_str(), (folder_ + "/" + kSocketName).c_str()) != 0) {
        return failed("could not listen on " + folder_ + "/" + kSocketName);
    }
    return {};
}

void SingleInstance::serve(std::function<std::string()> openPanel) {
    openPanel_ = std::move(openPanel);
    if (listenFd_ >= 0) {
        listenWatch_ =
            RunLoop::main().watchFd(listenFd_, kFdReadable, [this](unsigned) { acceptAll(); });
    }
}

void SingleInstance::acceptAll() {
    for (;;) {
        Descriptor fd(::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (fd.get() < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                log().error(systemError("Could not take a request from another launch"));
            }
            return;
        }
        if (connections_.size() >= kMaxConnections || !peerIsThisUser(fd.get())) {
            log().notice("A connection to Orvel's socket was refused: " +
                         std::string(connections_.size() >= kMaxConnections
                                         ? "too many at once"
                                         : "it came from another user"));
            continue;
        }
        const int id = nextID_++;
        auto connection = std::make_unique<Connection>();
        connection->fd.reset(fd.release());
        connection->watch = RunLoop::main().watchFd(connection->fd.get(), kFdReadable,
                                                    [this, id](unsigned) { readFrom(id); });
        connection->deadline =
            RunLoop::main().after(kRequestSeconds, [this, id] { connections_.erase(id); });
        connections_.emplace(id, std::move(connection));
    }
}

void SingleInstance::readFrom(int id) {
    auto found = connections_.find(id);
    if (found == connections_.end()) {
        return;
    }
    Connection& connection = *found->second;
    char buffer[kMaxLine];
    const ssize_t n = ::recv(connection.fd.get(), buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    if (n <= 0) {
        connections_.erase(found);
        return;
    }
    connection.line.append(buffer, static_cast<std::size_t>(n));
    const std::size_t end = connection.line.find('\n');
    if (end == std::string::npos && connection.line.size() <= kMaxLine) {
        return;
    }
    if (connection.line.substr(0, end + 1) != kRequest) {
        log().notice("A request from another launch of Orvel was not understood.");
        connections_.erase(found);
        return;
    }
    // Taken out first: opening the panel may turn the loop (an alert), which must not drop it.
    const auto served = std::move(found->second);
    connections_.erase(found);
    std::string answer = openPanel_ ? openPanel_() : std::string();
    answer =
        (answer.empty() ? std::string("nothing was shown") : answer.substr(0, kMaxLine - 1)) + "\n";
    // A few bytes into an empty socket: they fit, or the launch has gone.
    [[maybe_unused]] const ssize_t sent =
        ::send(served->fd.get(), answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

}  // namespace orvel
