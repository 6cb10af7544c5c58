#pragma once

#include <memory>

namespace orvel::ui {

// The Qt application object and the look the program draws with, for programs that should not
// include Qt themselves (the application shell, benchmarks). Create it first thing in main();
// main thread only.
class QtEnvironment {
  public:
    // `offscreen` draws into memory only (no display needed): tests and benchmarks.
    QtEnvironment(int& argc, char** argv, bool offscreen = false);
    ~QtEnvironment();
    QtEnvironment(const QtEnvironment&) = delete;
    QtEnvironment& operator=(const QtEnvironment&) = delete;

    // Delivers posted events (layouts, paints) now.
    static void processEvents();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvel::ui
