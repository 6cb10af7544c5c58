#include "platform/linux/LinuxHelperConnection.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace orvel {

namespace wp = wake_protocol;

namespace {

class SocketRequest final : public HelperRequest {
  public:
    SocketRequest(HelperConnection::Reply reply, std::string frame, double limitSeconds)
        : reply_(std::move(reply)), out_(std::move(frame)), limitSeconds_(limitSeconds) {}

    ~SocketRequest() override { closeSocket(); }

    void start(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) {
            failLater("the socket path " + path + " is too long");
            return;
        }
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0 ||
            ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            failLater("cannot connect to " + path + ": " + std::strerror(errno));
            return;
        }
        limit_ = RunLoop::main().after(limitSeconds_, [this] {
            finish(Error{"no reply within " + std::to_string(static_cast<int>(limitSeconds_)) +
                         " seconds"});
        });
        watch_ = RunLoop::main().watchFd(fd_, kFdWritable | kFdReadable,
                                         [this](unsigned events) { ready(events); });
    }

  private:
    void ready(unsigned events) {
        if ((events & kFdWritable) && !out_.empty()) {
            const ssize_t sent = ::send(fd_, out_.data(), out_.size(), MSG_NOSIGNAL);
            if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                finish(Error{std::string("cannot send the request: ") + std::strerror(errno)});
                return;
            }
            if (sent > 0) {
                out_.erase(0, static_cast<std::size_t>(sent));
            }
            if (out_.empty()) {
                watch_.setEvents(kFdReadable);
            }
        }
        if (!(events & (kFdReadable | kFdHangUp))) {
            return;
        }
        char buffer[512];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                finish(Error{std::string("cannot read the reply: ") + std::strerror(errno)});
            }
            return;
        }
        if (n == 0) {
            finish(Error{"the wake helper closed the connection without a reply"});
            return;
        }
        reader_.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        if (reader_.state() == wp::FrameReader::State::badLength) {
            finish(Error{"the wake helper's reply has a length out of bounds"});
        } else if (reader_.state() == wp::FrameReader::State::frame) {
            auto reply = wp::parseReply(reader_.payload());
            if (!reply.ok()) {
                finish(reply.error());
            } else if (!reply->status) {
                finish(Error{"the wake helper's reply holds no status"});
            } else {
                finish(*reply->status);
            }
        }
    }

    void failLater(std::string message) {
        closeSocket();
        limit_ = RunLoop::main().after(
            0, [this, message = std::move(message)] { finish(Error{message}); });
    }

    void closeSocket() {
        watch_.cancel();
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    // The last thing a request does: the reply may drop it.
    void finish(Result<std::int32_t> result) {
        closeSocket();
        limit_.cancel();
        if (!result.ok()) {
            Logger("helper").error("the wake helper was not reached: " + result.error().message);
        }
        HelperConnection::Reply reply = std::move(reply_);
        reply_ = nullptr;
        if (reply) {
            reply(std::move(result));
        }
    }

    HelperConnection::Reply reply_;
    std::string out_;
    double limitSeconds_;
    int fd_ = -1;
    wp::FrameReader reader_;
    FdWatch watch_;
    Timer limit_;
};

}  // namespace

std::unique_ptr<HelperRequest> LinuxHelperConnection::send(const std::vector<Date>& dates,
                                                           Reply reply) {
    auto request = std::make_unique<SocketRequest>(
        std::move(reply), wp::encodeFrame(wp::encodeScheduleWakes(dates)), replySeconds_);
    request->start(socketPath_);
    return request;
}

}  // namespace orvel
