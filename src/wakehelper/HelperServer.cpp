#include "wakehelper/HelperServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "foundation/Log.h"
#include "foundation/WakeHelperProtocol.h"

namespace orvel {

namespace wp = wake_protocol;

namespace {

const Logger& log() {
    static const Logger logger("helper");
    return logger;
}

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::optional<std::string> executableOf(const std::string& procRoot, pid_t pid) {
    const std::string link = procRoot + "/" + std::to_string(pid) + "/exe";
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) {
        return std::nullopt;
    }
    return std::string(target, static_cast<std::size_t>(n));
}

}  // namespace

struct HelperServer::Connection {
    int fd = -1;
    pid_t pid = 0;
    // Whose dates a request replaces: the kernel's word for the peer at its connect, which no
    // program it runs can change.
    uid_t uid = 0;
    // Taken at accept: the peer's process is still the one admitted while it has not exited.
    // Debian 12's kernel has no SO_PEERPIDFD, so a pid reused between the peer's connect and
    // this pidfd_open still slips through; the exe check narrows it, it cannot close it.
    int pidfd = -1;
    wp::FrameReader reader;
    std::string out;
    bool closeAfterWrite = false;
    FdWatch watch;
    Timer deadline;

    ~Connection() {
        if (pidfd >= 0) {
            ::close(pidfd);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

HelperServer::HelperServer(Helper& helper, HelperServerOptions options)
    : helper_(helper), options_(std::move(options)) {}

HelperServer::~HelperServer() {
    connections_.clear();
    listenWatch_.cancel();
    timerWatch_.cancel();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
    }
    if (timerFd_ >= 0) {
        ::close(timerFd_);
    }
}

Result<void> HelperServer::start() {
    // Bound and listening under a name of its own first, then renamed into place: a client
    // never finds a socket that refuses it.
    const std::string staging = options_.socketPath + ".new";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (staging.size() >= sizeof address.sun_path) {
        return Error{"the socket path " + options_.socketPath + " is too long"};
    }
    std::memcpy(address.sun_path, staging.c_str(), staging.size() + 1);
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        return Error{systemError("cannot make the helper's socket")};
    }
    ::unlink(staging.c_str());
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return Error{systemError("cannot bind the helper's socket to " + staging)};
    }
    // Anyone may connect; what runs at the other end decides whether it is served, and its uid
    // whose dates it may replace.
    if (::listen(listenFd_, 16) != 0 || ::chmod(staging.c_str(), 0666) != 0 ||
        ::rename(staging.c_str(), options_.socketPath.c_str()) != 0) {
        return Error{systemError("cannot listen on " + options_.socketPath)};
    }
    listenWatch_ =
        RunLoop::main().watchFd(listenFd_, kFdReadable, [this](unsigned) { acceptAll(); });
    timerFd_ = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timerFd_ < 0) {
        return Error{systemError("cannot make the alarm's timer")};
    }
    timerWatch_ =
        RunLoop::main().watchFd(timerFd_, kFdReadable, [this](unsigned) { alarmFired(); });
    followAlarm();
    return {};
}

void HelperServer::acceptAll() {
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                log().error(systemError("cannot accept a connection"));
            }
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        if (connections_.size() >= wp::kMaxConnections) {
            log().notice("a connection was turned away: " + wp::describeStatus(wp::kStatusBusy));
            const std::string busy = wp::encodeFrame(wp::encodeStatus(wp::kStatusBusy));
            [[maybe_unused]] const ssize_t sent =
                ::send(fd, busy.data(), busy.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            continue;
        }
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
            credentials.pid <= 0) {
            log().notice(systemError("a peer without credentials was refused"));
            continue;
        }
        connection->pid = credentials.pid;
        connection->uid = credentials.uid;
        connection->pidfd = static_cast<int>(::syscall(SYS_pidfd_open, credentials.pid, 0));
        if (connection->pidfd < 0 || !admitted(*connection, "at connection")) {
            continue;
        }
        const int id = nextID_++;
        connection->watch =
            RunLoop::main().watchFd(fd, kFdReadable, [this, id](unsigned) { readFrom(id); });
        connection->deadline = RunLoop::main().after(wp::kFrameSeconds, [this, id] {
            log().notice("a connection was closed: " + wp::describeStatus(wp::kStatusTimedOut));
            reply(id, wp::encodeStatus(wp::kStatusTimedOut), true);
        });
        connections_.emplace(id, std::move(connection));
    }
}

bool HelperServer::admitted(Connection& connection, const char* when) {
    const auto exe = executableOf(options_.procRoot, connection.pid);
    pollfd exited{connection.pidfd, POLLIN, 0};
    const bool gone = ::poll(&exited, 1, 0) != 0;
    if (!exe || *exe != options_.clientExecutable || gone) {
        log().notice("process " + std::to_string(connection.pid) + " (" +
                     (gone ? std::string("exited") : exe.value_or("unknown program")) +
                     ") was refused " + when + ": only " + options_.clientExecutable +
                     " is served");
        return false;
    }
    return true;
}

void HelperServer::readFrom(int id) {
    auto found = connections_.find(id);
    if (found == connections_.end()) {
        return;
    }
    Connection& connection = *found->second;
    char buffer[4096];
    const ssize_t n = ::recv(connection.fd, buffer, sizeof buffer, 0);
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            log().notice(systemError("a connection failed"));
            drop(id);
        }
        return;
    }
    if (n == 0) {
        if (connection.reader.started()) {
            log().notice("a connection was closed: " + wp::describeStatus(wp::kStatusTruncated));
            reply(id, wp::encodeStatus(wp::kStatusTruncated), true);
        } else {
            drop(id);
        }
        return;
    }
    std::string_view bytes(buffer, static_cast<std::size_t>(n));
    while (!bytes.empty()) {
        bytes.remove_prefix(connection.reader.feed(bytes));
        switch (connection.reader.state()) {
            case wp::FrameReader::State::needMore:
                break;
            case wp::FrameReader::State::badLength:
                log().notice("a connection was closed: " +
                             wp::describeStatus(wp::kStatusBadLength));
                reply(id, wp::encodeStatus(wp::kStatusBadLength), true);
                return;
            case wp::FrameReader::State::frame: {
                // Checked again before acting: the peer may have exec'd another program since.
                if (!admitted(connection, "before its request")) {
                    drop(id);
                    return;
                }
                const Helper::Answer answer = helper_.answer(
                    connection.reader.payload(),
                    Helper::Peer{static_cast<Helper::UserID>(connection.uid), connection.pid});
                connection.reader.reset();
                if (answer.close) {
                    log().notice("a request was refused: " +
                                 answer.reply.substr(0, wp::kMaxFrameLength));
                }
                reply(id, answer.reply, answer.close);
                if (answer.close || connections_.count(id) == 0) {
                    return;
                }
                followAlarm();
                connection.deadline = RunLoop::main().after(wp::kFrameSeconds, [this, id] {
                    log().notice("a connection was closed: " +
                                 wp::describeStatus(wp::kStatusTimedOut));
                    reply(id, wp::encodeStatus(wp::kStatusTimedOut), true);
                });
                break;
            }
        }
    }
}

void HelperServer::reply(int id, const std::string& payload, bool close) {
    auto found = connections_.find(id);
    if (found == connections_.end()) {
        return;
    }
    Connection& connection = *found->second;
    connection.out += wp::encodeFrame(payload);
    if (close) {
        connection.closeAfterWrite = true;
        connection.watch.setEvents(kFdWritable);
    }
    flush(id);
}

void HelperServer::flush(int id) {
    auto found = connections_.find(id);
    if (found == connections_.end()) {
        return;
    }
    Connection& connection = *found->second;
    while (!connection.out.empty()) {
        const ssize_t sent = ::send(connection.fd, connection.out.data(), connection.out.size(),
                                    MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                connection.watch = RunLoop::main().watchFd(
                    connection.fd, kFdWritable | (connection.closeAfterWrite ? 0u : kFdReadable),
                    [this, id](unsigned events) {
                        if (events & kFdWritable) {
                            flush(id);
                        }
                        if ((events & kFdReadable) && connections_.count(id) != 0) {
                            readFrom(id);
                        }
                    });
                return;
            }
            if (errno != EINTR) {
                // The peer went away before its answer: nothing is left to tell it.
                drop(id);
                return;
            }
            continue;
        }
        connection.out.erase(0, static_cast<std::size_t>(sent));
    }
    if (connection.closeAfterWrite) {
        drop(id);
        return;
    }
    connection.watch =
        RunLoop::main().watchFd(connection.fd, kFdReadable, [this, id](unsigned) { readFrom(id); });
}

void HelperServer::drop(int id) {
    connections_.erase(id);
}

void HelperServer::followAlarm() {
    if (timerFd_ < 0) {
        return;
    }
    itimerspec when{};
    if (const auto armed = helper_.armed()) {
        when.it_value.tv_sec = *armed;
    }
    // Set clock changes cancel the wait, so a clock moved past the date is seen at once.
    if (::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when, nullptr) !=
        0) {
        log().error(systemError("cannot follow the alarm's date"));
    }
}

void HelperServer::alarmFired() {
    std::uint64_t expirations = 0;
    // ECANCELED: the clock was set. Either way the alarm is looked at again.
    [[maybe_unused]] const ssize_t n = ::read(timerFd_, &expirations, sizeof expirations);
    if (const std::int32_t status = helper_.rearm(); status != 0) {
        log().error("the next wake could not be armed: " + wp::describeStatus(status));
    }
    followAlarm();
}

}  // namespace orvel
