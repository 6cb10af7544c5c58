#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/WakeHelperProtocol.h"
#include "support/RealThings.h"

namespace orvel::test {

inline std::string thisExecutable() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

// The built OrvelWakeHelper, run on a folder of its own: its socket, a regular file standing for
// the RTC's wakealarm, its state and its log. It serves this test program unless told otherwise.
class HelperProcess {
  public:
    explicit HelperProcess(const std::string& name) {
        folder = std::filesystem::temp_directory_path() /
                 ("orvel-" + name + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        socket = (folder / "socket").string();
        wakealarm = (folder / "wakealarm").string();
        state = (folder / "state" / "wakes.json").string();
        std::ofstream(wakealarm) << "";
    }
    ~HelperProcess() {
        stop();
        std::filesystem::remove_all(folder);
    }

    // Starts the helper and waits for its socket; false when it did not come up.
    bool start(const std::string& client = thisExecutable()) {
        std::filesystem::remove(socket);
        const std::string log = (folder / "helper.log").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            ::dup2(out, STDERR_FILENO);
            ::execl(ORVEL_WAKE_HELPER_PROGRAM, ORVEL_WAKE_HELPER_PROGRAM, "--socket",
                    socket.c_str(), "--rtc", wakealarm.c_str(), "--state", state.c_str(),
                    "--client", client.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid_ > 0 && waitUntil([&] { return std::filesystem::exists(socket); });
    }
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    bool alive() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

    // A blocking connection with a 20 s limit on every read and write; -1 when none.
    int connect() const {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
        timeval limit{20, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    // What the helper says to `bytes` sent on a fresh connection (ended after them when
    // `endAfter`): the reply frame's payload, or nothing when it closed without one.
    std::optional<std::string> exchange(const std::string& bytes, bool endAfter = false) const {
        const int fd = connect();
        if (fd < 0) {
            return std::nullopt;
        }
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (endAfter) {
            ::shutdown(fd, SHUT_WR);
        }
        auto reply = readReply(fd);
        ::close(fd);
        return reply;
    }

    static std::optional<std::string> readReply(int fd) {
        wake_protocol::FrameReader reader;
        char buffer[512];
        while (reader.state() == wake_protocol::FrameReader::State::needMore) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return std::nullopt;
            }
            reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        }
        if (reader.state() != wake_protocol::FrameReader::State::frame) {
            return std::nullopt;
        }
        return reader.payload();
    }

    // Whether the helper closes `fd` (end of stream) within the read limit.
    static bool closes(int fd) {
        char byte;
        return ::recv(fd, &byte, 1, 0) == 0;
    }

    std::filesystem::path folder;
    std::string socket;
    std::string wakealarm;
    std::string state;

  private:
    pid_t pid_ = -1;
};

}  // namespace orvel::test
