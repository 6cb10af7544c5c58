#pragma once

#include <mutex>
#include <optional>

#include "foundation/RunLoop.h"

namespace orvel {

// A run loop on virtual time, for tests and simulations: nothing happens until the test drains
// the queue or lets time pass, and then everything happens in time order, on the calling
// thread. Watched descriptors are polled without waiting.
class VirtualRunLoop final : public RunLoop {
  public:
    // Monday 2026-01-05 09:00:00 UTC: a fixed, ordinary start so that runs are repeatable.
    static constexpr Date kDefaultStart = Date::fromUnix(1767603600.0);

    explicit VirtualRunLoop(Date start = kDefaultStart);

    Date now() const override;
    double uptime() const override;
    void async(std::function<void()> fn) override { enqueue(std::move(fn)); }
    std::shared_ptr<SerialQueue> makeSerialQueue(std::string name) override;

    // Runs queued blocks and due timers without letting time pass.
    void drain();
    // Lets `seconds` pass, firing every timer that falls due on the way at its own time.
    void advance(double seconds);
    // The machine sleeps: the wall clock moves on, the monotonic clock and timers stand still.
    void sleepMachine(double seconds);
    // Moves the wall clock (a user changing the clock); the monotonic clock is untouched.
    void setNow(Date date);

    // Seconds until the next timer falls due; nothing when no timer is armed (an idle program).
    std::optional<double> nextTimerIn() const;

    // Advances to each next timer in turn until quit(); returns at once when nothing is left.
    void run() override;
    void quit() override { quitRequested_ = true; }
    bool runModal(const std::function<bool()>& done) override;

  private:
    bool runUntil(const std::function<bool()>& done);
    void moveUptimeTo(double uptime);

    // Other threads read the clocks (now() and uptime() are thread-safe); only the main thread
    // moves them.
    mutable std::mutex clockMutex_;
    double uptime_ = 0.0;
    double wallOffset_;  // wall clock minus monotonic clock
    bool quitRequested_ = false;
};

}  // namespace orvel
