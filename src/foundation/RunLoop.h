#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Date.h"

// The main run loop: clocks, queued blocks, timers and file-descriptor watches.
// Threading: main thread only, except async(), now() and uptime(), which any thread may call.

namespace orvel {

// Default-mode timers are held back while a modal loop runs; common-mode timers and queued
// blocks run in every mode.
enum class TimerMode { Default, Common };

namespace detail {
struct TimerRecord;
struct FdWatchRecord;
class TimerQueue;
class FdWatchSet;
}  // namespace detail

// A scheduled timer. Destroying the handle or calling cancel() stops it; a one-shot timer that
// has fired is no longer valid. The callback never runs after cancel() returns.
class [[nodiscard]] Timer {
  public:
    Timer() = default;
    Timer(Timer&&) noexcept;
    Timer& operator=(Timer&&) noexcept;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer();

    void cancel();
    bool isValid() const;
    explicit operator bool() const { return isValid(); }

  private:
    friend class detail::TimerQueue;
    explicit Timer(std::shared_ptr<detail::TimerRecord> record) : record_(std::move(record)) {}
    std::shared_ptr<detail::TimerRecord> record_;
};

enum FdEvents : unsigned {
    kFdReadable = 1u << 0,
    kFdWritable = 1u << 1,
    kFdHangUp = 1u << 2,  // reported only, never requested
};

// A watch on a file descriptor; destroying it or calling cancel() ends the watch (the
// descriptor itself stays open: it belongs to the caller).
class [[nodiscard]] FdWatch {
  public:
    FdWatch() = default;
    FdWatch(FdWatch&&) noexcept;
    FdWatch& operator=(FdWatch&&) noexcept;
    FdWatch(const FdWatch&) = delete;
    FdWatch& operator=(const FdWatch&) = delete;
    ~FdWatch();

    void cancel();
    bool isValid() const;
    // Changes which events are watched (D-Bus connections ask for this after every call).
    void setEvents(unsigned events);

  private:
    friend class detail::FdWatchSet;
    explicit FdWatch(std::shared_ptr<detail::FdWatchRecord> record) : record_(std::move(record)) {}
    std::shared_ptr<detail::FdWatchRecord> record_;
};

class RunLoop {
  public:
    virtual ~RunLoop();

    // The installed main loop. On the main thread, aborts with a message when none is installed.
    // Other threads get a stand-in that hands async(), now() and uptime() to the installed loop
    // and drops blocks while none is installed: a worker that outlives the loop (a child's exit
    // reported during shutdown) never reaches a loop being torn down.
    static RunLoop& main();
    static bool hasMain();
    // Installs the main loop (the calling thread becomes the main thread) and returns the
    // previous one, if any. Once it returns, other threads no longer reach the previous loop.
    static std::unique_ptr<RunLoop> install(std::unique_ptr<RunLoop> loop);

    // Wall-clock time. Any thread.
    virtual Date now() const = 0;
    // Seconds on a monotonic clock that does not count time the machine spent asleep. Any thread.
    virtual double uptime() const = 0;

    // Queues fn to run on the main thread on a later turn of the loop, after the blocks queued
    // before it. Any thread.
    virtual void async(std::function<void()> fn) = 0;

    // A one-shot timer, `seconds` from now. Negative or NaN counts as zero; huge values saturate
    // (the timer then never fires in practice) instead of overflowing.
    Timer after(double seconds, std::function<void()> fn, TimerMode mode = TimerMode::Default);
    // A repeating timer, first firing one interval from now. An interval below 1 ms (zero,
    // negative and NaN included) counts as 1 ms. A timer that falls behind fires once and then
    // keeps to its original cadence.
    Timer every(double interval, std::function<void()> fn, TimerMode mode = TimerMode::Default);

    FdWatch watchFd(int fd, unsigned events, std::function<void(unsigned events)> fn);

    // A serial queue for work that must leave the main thread (blocking reads, probes). Tasks
    // run one at a time in order; they hand results back with async(). On virtual time the tasks
    // run on the main thread as queued blocks, so tests stay deterministic.
    virtual std::shared_ptr<class SerialQueue> makeSerialQueue(std::string name);

    // Runs until quit().
    virtual void run() = 0;
    virtual void quit() = 0;

    // Runs a nested loop in modal mode until done() is true, while default-mode timers wait.
    // Returns false when the loop cannot make progress (nothing left that could change done(),
    // on virtual time) or quit() was called.
    virtual bool runModal(const std::function<bool()>& done) = 0;
    bool isModal() const { return modalDepth_ > 0; }

    // Whether the caller runs on the main thread: the one that installed the main loop last
    // (every thread, before any loop was installed).
    static bool isMainThread();

    // How many timer callbacks have run: the wake-ups a reader compares between runs.
    std::uint64_t timersFired() const;

  protected:
    RunLoop();

    // Runs queued blocks until none is left, and the timers that were due when it was called
    // (in time order); a timer that falls due meanwhile waits for the next call. Implementations
    // call this from their wait loop.
    void runPending();
    // The monotonic time of the next eligible timer, or a negative number when there is none.
    double nextTimerDue() const;
    bool hasQueuedBlocks() const;
    // Enqueue without waking; implementations wrap this with their wake-up.
    void enqueue(std::function<void()> fn);
    // Dispatches ready descriptors from a poll() over the watched set; waits up to
    // timeoutSeconds (0: do not wait, negative: wait indefinitely), also waking on wakeFd.
    void pollDescriptors(double timeoutSeconds, int wakeFd);
    bool hasFdWatches() const;
    // For loops that wait in another event system: the watched descriptors with the events
    // asked for (one entry per descriptor, events merged), and the delivery of events that
    // arrived on one of them (each watch on it gets what it asked for, and every hang-up).
    struct WatchedFd {
        int fd = -1;
        unsigned events = 0;
        bool operator==(const WatchedFd&) const = default;
    };
    std::vector<WatchedFd> watchedFds() const;
    void dispatchFd(int fd, unsigned events);

    // Told when a timer or descriptor watch is added, removed or changed, for loops that mirror
    // them into another event system.
    virtual void schedulingChanged() {}

    int modalDepth_ = 0;

  private:
    friend class detail::TimerQueue;
    friend class detail::FdWatchSet;
    struct Queue;
    std::unique_ptr<Queue> queue_;
    std::unique_ptr<detail::TimerQueue> timers_;
    std::unique_ptr<detail::FdWatchSet> fds_;
};

// The wall-clock time of the main loop. Any thread.
inline Date now() {
    return RunLoop::main().now();
}

// Turns the main loop modally until done() is true or `seconds` have passed on its clock, for a
// caller that must answer now but may wait a little for a reply. Returns done() at the end.
// Main thread only.
bool runModalFor(double seconds, const std::function<bool()>& done);

namespace detail {
[[noreturn]] void offMainThread(const char* operation);
}  // namespace detail

// Checks, in debug builds, that a main-thread-only operation runs on the main thread; aborts
// with the operation's name when it does not.
#ifndef NDEBUG
inline constexpr bool kChecksMainThread = true;
#define ORVEL_ASSERT_MAIN_THREAD(operation) \
    (::orvel::RunLoop::isMainThread() ? void(0) : ::orvel::detail::offMainThread(operation))
#else
inline constexpr bool kChecksMainThread = false;
#define ORVEL_ASSERT_MAIN_THREAD(operation) void(0)
#endif

}  // namespace orvel
