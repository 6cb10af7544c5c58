#include "platform/linux/SwayIpc.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace orvel {

namespace {

// Magic, payload length and message type in native order.
constexpr char kIpcMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kIpcHeader = sizeof kIpcMagic + 2 * sizeof(std::uint32_t);

struct IpcMessage {
    std::uint32_t type = 0;
    std::string payload;
};

// Takes the first whole message off `received`; nothing while it is still incomplete.
std::optional<IpcMessage> takeMessage(std::string& received) {
    if (received.size() < kIpcHeader) {
        return std::nullopt;
    }
    std::uint32_t length = 0;
    IpcMessage message;
    std::memcpy(&length, received.data() + sizeof kIpcMagic, sizeof length);
    std::memcpy(&message.type, received.data() + sizeof kIpcMagic + sizeof length,
                sizeof message.type);
    if (received.size() < kIpcHeader + length) {
        return std::nullopt;
    }
    message.payload = received.substr(kIpcHeader, length);
    received.erase(0, kIpcHeader + length);
    return message;
}

}  // namespace

bool SwayRequest::isSocket(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool SwayRequest::succeeded(std::string_view answer) {
    return !answer.empty() && answer.find("\"success\":false") == std::string_view::npos &&
           answer.find("\"success\": false") == std::string_view::npos;
}

namespace {

// A connection to sway with one message sent on it.
Result<UniqueFd> connectAndSend(const std::string& socketPath, std::uint32_t type,
                                std::string_view payload) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!fd) {
        return Error{std::strerror(errno)};
    }
    if (socketPath.size() >= sizeof address.sun_path) {
        return Error{"its socket path is too long"};
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    // A local socket accepts a short message at once, so only the answer is waited for.
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return Error{socketPath + ": " + std::strerror(errno)};
    }
    const auto length = static_cast<std::uint32_t>(payload.size());
    std::string message(kIpcMagic, sizeof kIpcMagic);
    message.append(reinterpret_cast<const char*>(&length), sizeof length);
    message.append(reinterpret_cast<const char*>(&type), sizeof type);
    message += payload;
    if (::send(fd.get(), message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
        static_cast<ssize_t>(message.size())) {
        return Error{std::strerror(errno)};
    }
    return fd;
}

}  // namespace

Result<std::unique_ptr<SwayRequest>> SwayRequest::send(const std::string& socketPath,
                                                       std::uint32_t type, std::string_view payload,
                                                       double limitSeconds, Done done) {
    auto fd = connectAndSend(socketPath, type, payload);
    if (!fd) {
        return fd.error();
    }
    std::unique_ptr<SwayRequest> request(new SwayRequest);
    SwayRequest* raw = request.get();
    raw->socket_ = std::move(*fd);
    raw->done_ = std::move(done);
    raw->watch_ = RunLoop::main().watchFd(raw->socket_.get(), kFdReadable,
                                          [raw](unsigned) { raw->readable(); });
    raw->limit_ = RunLoop::main().after(limitSeconds,
                                        [raw] { raw->finish(Error{"it did not answer in time"}); });
    return request;
}

SwayRequest::~SwayRequest() = default;

void SwayRequest::readable() {
    char buffer[16384];
    const ssize_t got = ::recv(socket_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (got > 0) {
        answer_.append(buffer, static_cast<std::size_t>(got));
        if (auto answer = takeMessage(answer_)) {
            finish(std::move(answer->payload));
        }
        return;
    }
    finish(Error{got == 0 ? "it closed the connection unanswered" : std::strerror(errno)});
}

void SwayRequest::finish(Result<std::string> outcome) {
    // `done` may destroy this request: nothing of it is touched after the call.
    watch_ = {};
    limit_ = {};
    Done done = std::move(done_);
    done_ = nullptr;
    if (done) {
        done(std::move(outcome));
    }
}

Result<std::unique_ptr<SwaySubscription>> SwaySubscription::start(const std::string& socketPath,
                                                                  std::string_view events,
                                                                  Event event) {
    auto fd = connectAndSend(socketPath, kSubscribe, events);
    if (!fd) {
        return fd.error();
    }
    std::unique_ptr<SwaySubscription> subscription(new SwaySubscription);
    SwaySubscription* raw = subscription.get();
    raw->socket_ = std::move(*fd);
    raw->event_ = std::move(event);
    raw->watch_ = RunLoop::main().watchFd(raw->socket_.get(), kFdReadable,
                                          [raw](unsigned) { raw->readable(); });
    return subscription;
}

SwaySubscription::~SwaySubscription() {
    *alive_ = false;
}

void SwaySubscription::readable() {
    char buffer[16384];
    const ssize_t got = ::recv(socket_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (got <= 0) {
        watch_ = {};
        return;
    }
    received_.append(buffer, static_cast<std::size_t>(got));
    std::vector<IpcMessage> messages;
    while (auto message = takeMessage(received_)) {
        messages.push_back(std::move(*message));
    }
    // `event` may destroy this subscription: what it needs is held here.
    const Event event = event_;
    const std::shared_ptr<bool> alive = alive_;
    for (const IpcMessage& message : messages) {
        // The answer to the subscribing itself is no event.
        if ((message.type & kWorkspaceEvent) != 0) {
            event(message.type, message.payload);
            if (!*alive) {
                return;
            }
        }
    }
}

}  // namespace orvel
