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
        int fds[2];
        if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], 3);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0",
                    "640x480x24", nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        ::close(fds[0]);
        if (!number.empty()) {
            display_ = ":" + number;
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
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace orvel::test
