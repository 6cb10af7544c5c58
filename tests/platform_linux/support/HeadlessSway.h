#pragma once

#include <sys/types.h>

#include <string>

namespace orvel::test {

// A headless sway 1.7 or later, run in a user namespace when the test runs as root (sway refuses
// root), with no configuration; whyNot() says why it is not there.
class HeadlessSway {
  public:
    HeadlessSway();
    ~HeadlessSway();
    HeadlessSway(const HeadlessSway&) = delete;
    HeadlessSway& operator=(const HeadlessSway&) = delete;

    // Its IPC socket and its Wayland display's socket (full paths) once it is up, else empty.
    const std::string& socket() const { return socket_; }
    const std::string& waylandDisplay() const { return display_; }
    const std::string& whyNot() const { return why_; }

  private:
    pid_t pid_ = -1;
    std::string runtime_;
    std::string socket_;
    std::string display_;
    std::string why_;
};

}  // namespace orvel::test
