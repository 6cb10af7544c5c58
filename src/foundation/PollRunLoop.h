#pragma once

#include <atomic>

#include "foundation/RunLoop.h"

namespace orvel {

// A run loop on the real clocks that waits in poll(): for headless programs (the wake helper,
// command-line tools) and integration tests.
class PollRunLoop final : public RunLoop {
  public:
    PollRunLoop();
    ~PollRunLoop() override;

    Date now() const override;
    double uptime() const override;
    void async(std::function<void()> fn) override;

    void run() override;
    void quit() override;
    bool runModal(const std::function<bool()>& done) override;

    // Runs until done() is true or `timeoutSeconds` of real time have passed; true when done.
    bool runFor(double timeoutSeconds, const std::function<bool()>& done);

  private:
    bool runUntil(const std::function<bool()>& done, double deadline);
    void wake();

    int wakeFd_ = -1;
    std::atomic<bool> quitRequested_{false};
};

}  // namespace orvel
