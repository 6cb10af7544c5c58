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

bool FakeSway::serveOne(const std::optional<std::string>& answer) {
    UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client) {
        return false;
    }
    char header[14];
    std::uint32_t length = 0, type = 99;
    if (::recv(client.get(), header, sizeof header, MSG_WAITALL) != sizeof header) {
        return true;
    }
    std::memcpy(&length, header + 6, 4);
    std::memcpy(&type, header + 10, 4);
    std::string payload(length, '\0');
    if (length > 0) {  // a read of nothing would wait for more
        (void)::recv(client.get(), payload.data(), length, MSG_WAITALL);
    }
    requests.push_back(std::string(header, 6) + " " + std::to_string(type) + " " + payload);
    if (answer) {
        std::string reply(header, 6);
        const auto size = static_cast<std::uint32_t>(answer->size());
        reply.append(reinterpret_cast<const char*>(&size), 4);
        reply.append(reinterpret_cast<const char*>(&type), 4);
        reply += *answer;
        (void)::send(client.get(), reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    return true;
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
