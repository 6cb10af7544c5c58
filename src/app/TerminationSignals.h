#pragma once

#include <functional>

#include "foundation/RunLoop.h"

namespace orvel {

// Turns SIGTERM, SIGINT and SIGHUP into a call on the main loop, so that quitting by signal
// runs the same orderly shutdown as quitting from the menu. The signal handler itself only
// writes the signal number to a pipe. One instance at a time; destroying it restores the
// default handling.
class TerminationSignals {
  public:
    explicit TerminationSignals(std::function<void(int signal)> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

  private:
    std::function<void(int)> onSignal_;
    FdWatch watch_;
};

}  // namespace orvel
