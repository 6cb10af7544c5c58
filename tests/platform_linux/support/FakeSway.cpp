#include "support/FakeSway.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "foundation/PollRunLoop.h"

namespace orvel::test {

FakeSway::FakeSway(std::string path) : path_(std::move(path)) {
    ::unlink(path_.c_str());
    listener_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    listening_ =
        listener_ &&
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(listener_.get(), 4) == 0;
}

FakeSway::~FakeSway() {
    ::unlink(path_.c_str());
}

std::optional<std::uint32_t> FakeSway::read(const UniqueFd& client) {
    char header[14];
    std::uint32_t length = 0, type = 99;
    if (::recv(client.get(), header, sizeof header, MSG_WAITALL) != sizeof header) {
        return std::nullopt;
    }
    std::memcpy(&length, header + 6, 4);
    std::memcpy(&type, header + 10, 4);
    std::string payload(length, '\0');
    if (length > 0) {  // a read of nothing would wait for more
        (void)::recv(client.get(), payload.data(), length, MSG_WAITALL);
    }
    requests.push_back(std::string(header, 6) + " " + std::to_string(type) + " " + payload);
    return type;
}

void FakeSway::reply(const UniqueFd& client, std::uint32_t type, const std::string& payload) {
    std::string message("i3-ipc");
    const auto size = static_cast<std::uint32_t>(payload.size());
    message.append(reinterpret_cast<const char*>(&size), 4);
    message.append(reinterpret_cast<const char*>(&type), 4);
    message += payload;
    (void)::send(client.get(), message.data(), message.size(), MSG_NOSIGNAL);
}

bool FakeSway::serveOne(const std::optional<std::string>& answer) {
    UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client) {
        return false;
    }
    if (const auto type = read(client); type && answer) {
        reply(client, *type, *answer);
    }
    return true;
}

bool FakeSway::acceptSubscription() {
    UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client) {
        return false;
    }
    if (const auto type = read(client)) {
        reply(client, *type, R"({"success": true})");
    }
    subscriber_ = std::move(client);
    return true;
}

void FakeSway::event(std::uint32_t type, const std::string& payload) {
    reply(subscriber_, type, payload);
}

void SwayIpcTest::SetUp() {
    RunLoop::install(std::make_unique<PollRunLoop>());
    previous_ = installLogSink(log);
}

void SwayIpcTest::TearDown() {
    installLogSink(previous_);
    RunLoop::install(nullptr);
}

std::string SwayIpcTest::socketPath() {
    return ::testing::TempDir() + "/orvel-sway-" + std::to_string(::getpid()) + ".sock";
}

}  // namespace orvel::test
