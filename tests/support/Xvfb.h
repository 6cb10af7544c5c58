#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace orvel::test {

// A private X server for one test, on a display number it chose itself; display() is empty when
// Xvfb is not installed or did not start. end() stops it, as a logout ends the display.
class Xvfb {
  public:
    Xvfb() {
        if (::access("/usr/bin/Xvfb", X_OK) != 0) {
            return;
        }
        // A display number of its own, far from the low ones every server that picks the first
        // free number takes: a server ending on the number a new one just took removes the new
        // one's socket with its own.
        const auto seed = static_cast<unsigned>(::getpid());
        for (unsigned attempt = 0; attempt < 20 && display_.empty(); ++attempt) {
            start(1000 + (seed * 7919u + attempt * 104729u) % 30000u);
        }
    }
    ~Xvfb() { end(); }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& display() const { return display_; }
    void end() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

  private:
    // Xvfb on display `number`, waiting until it accepts clients; display_ stays empty when it
    // ends first (that number is in use).
    void start(unsigned number) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        const std::string name = ":" + std::to_string(number);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], 3);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::execl("/usr/bin/Xvfb", "Xvfb", name.c_str(), "-displayfd", "3", "-nolisten", "tcp",
                    "-screen", "0", "640x480x24", nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string written;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') {
            written += c;
        }
        ::close(fds[0]);
        if (!written.empty()) {
            display_ = ":" + written;
        } else {
            end();
        }
    }

    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace orvel::test
