#pragma once

#include <functional>
#include <memory>

#include "ui/Host.h"

namespace orvel::ui {

// Everything the program needs to run on Qt, for a main() that does not include Qt: the
// application object and the Qt-driven main loop, installed, and the Qt host once the machine it
// works with is there. When Qt ends the application by itself (the session ends), the host's
// orderly termination still runs. Main thread only; one per process.
class QtShell {
  public:
    QtShell(int& argc, char** argv);
    // Installs the Qt host, handed what it uses of the machine.
    void installHost(HostCapabilities capabilities);
    ~QtShell();
    QtShell(const QtShell&) = delete;
    QtShell& operator=(const QtShell&) = delete;

    // Whether windows can be shown: a display that answers (an X server or a Wayland compositor),
    // or a Qt platform chosen explicitly. An X server that answered is kept connected until
    // releaseDisplayCheck() (which making the shell calls once Qt has its own connection): a
    // server whose last client leaves resets and refuses clients meanwhile, and a bare one
    // (xvfb-run, xinit) may have no other.
    static bool canShowWindows();
    static void releaseDisplayCheck();

    // Qt ends the process at once when its display goes away (the X server or the compositor
    // ends, as at logout); `quit` runs first, on the main thread, so that this is a quit and not
    // a crash, and the process then exits with status 0. An empty `quit` disarms it: past the
    // main loop a display that goes away only ends Qt's own teardown, and Qt's thread that says
    // so must not wait for a quit that already ran.
    void onDisplayLost(std::function<void()> quit);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvel::ui
