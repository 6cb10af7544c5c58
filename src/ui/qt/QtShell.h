#pragma once

#include <memory>

namespace orvel::ui {

// Everything the program needs to run on Qt, for a main() that does not include Qt: the
// application object, the Qt-driven main loop and the Qt host, installed. When Qt ends the
// application by itself (the session ends), the host's orderly termination still runs.
// Main thread only; one per process.
class QtShell {
  public:
    QtShell(int& argc, char** argv);
    ~QtShell();
    QtShell(const QtShell&) = delete;
    QtShell& operator=(const QtShell&) = delete;

    // Whether windows can be shown: a display that answers (an X server or a Wayland compositor),
    // or a Qt platform chosen explicitly.
    static bool canShowWindows();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvel::ui
