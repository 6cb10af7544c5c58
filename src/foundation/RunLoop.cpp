#include "foundation/RunLoop.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/SerialQueue.h"
#include "foundation/WeakRef.h"

namespace orvel {

namespace {

// Where the main loop lives. Never destroyed: a worker thread may still post while the process
// exits.
struct MainLoopSlot {
    // Exclusive while the loop is swapped; shared while another thread reaches it.
    std::shared_mutex mutex;
    std::unique_ptr<RunLoop> loop;
    std::atomic<RunLoop*> current{nullptr};  // loop.get(), for readers that take no lock
    std::atomic<std::thread::id> thread{};
    // The clocks as the last loop left them, for readers after teardown.
    Date lastNow;
    double lastUptime = 0.0;
};

MainLoopSlot& slot() {
    static auto* s = new MainLoopSlot;
    return *s;
}

// What other threads reach through RunLoop::main(): the installed loop's thread-safe
// operations, under the slot's lock, so that the loop cannot go away during the call.
class OtherThreadLoop final : public RunLoop {
  public:
    Date now() const override {
        std::shared_lock lock(slot().mutex);
        return slot().loop ? slot().loop->now() : slot().lastNow;
    }
    double uptime() const override {
        std::shared_lock lock(slot().mutex);
        return slot().loop ? slot().loop->uptime() : slot().lastUptime;
    }
    void async(std::function<void()> fn) override {
        std::shared_lock lock(slot().mutex);
        if (slot().loop) {
            slot().loop->async(std::move(fn));
            return;
        }
        lock.unlock();
        // No loop: the block is dropped here, outside the lock, as its captures may post too.
        fn = nullptr;
    }
    void run() override { ORVEL_ASSERT_MAIN_THREAD("RunLoop::run"); }
    void quit() override { ORVEL_ASSERT_MAIN_THREAD("RunLoop::quit"); }
    bool runModal(const std::function<bool()>&) override {
        ORVEL_ASSERT_MAIN_THREAD("RunLoop::runModal");
        return false;
    }
};

RunLoop& otherThreadLoop() {
    static auto* loop = new OtherThreadLoop;
    return *loop;
}

// Timers further away than this (about 31 700 years) are parked there: they never fire, and no
// deadline arithmetic can overflow.
constexpr double kFarFuture = 1e12;

double sanitizedDelay(double seconds) {
    if (!(seconds > 0.0)) {  // negative and NaN
        return 0.0;
    }
    return std::min(seconds, kFarFuture);
}

}  // namespace

namespace detail {

class TimerQueue;

struct TimerRecord {
    double fireAt = 0;
    double interval = 0;  // 0: one-shot
    TimerMode mode = TimerMode::Default;
    std::uint64_t seq = 0;
    std::function<void()> fn;
    bool scheduled = false;
    RunLoop* loop = nullptr;
    WeakRef<TimerQueue> queueAlive;
};

struct TimerKey {
    double fireAt;
    std::uint64_t seq;
    std::shared_ptr<TimerRecord> record;
    bool operator<(const TimerKey& other) const {
        return fireAt != other.fireAt ? fireAt < other.fireAt : seq < other.seq;
    }
};

class TimerQueue : public WeakReferenceable {
  public:
    explicit TimerQueue(RunLoop& loop) : loop_(loop) {}
    // Handles cancelled while the timers are destroyed must not reach into the queue.
    ~TimerQueue() { dropWeakReferences(); }

    Timer schedule(double delay, double interval, std::function<void()> fn, TimerMode mode) {
        auto record = std::make_shared<TimerRecord>();
        record->interval = interval;
        record->mode = mode;
        record->fn = std::move(fn);
        record->loop = &loop_;
        record->queueAlive = weakRef(*this);
        insert(record, loop_.uptime() + delay);
        loop_.schedulingChanged();
        return Timer(record);
    }

    static void cancel(TimerRecord& record) {
        if (!record.queueAlive) {
            record.scheduled = false;
            record.fn = nullptr;
            return;
        }
        TimerQueue& queue = *record.loop->timers_;
        if (record.scheduled) {
            queue.setFor(record.mode).erase(TimerKey{record.fireAt, record.seq, nullptr});
            record.scheduled = false;
            record.loop->schedulingChanged();
        }
        // Safe while the callback runs: firing works on a copy.
        record.fn = nullptr;
    }

    // The next timer eligible in the current mode.
    const TimerKey* next() const {
        const TimerKey* best = common_.empty() ? nullptr : &*common_.begin();
        if (loop_.modalDepth_ == 0 && !default_.empty()) {
            const TimerKey* candidate = &*default_.begin();
            if (best == nullptr || *candidate < *best) {
                best = candidate;
            }
        }
        return best;
    }

    // Fires the next eligible timer due by `dueBy`; false when none is.
    bool fireOneDue(double dueBy) {
        const TimerKey* key = next();
        if (key == nullptr || key->fireAt > dueBy) {
            return false;
        }
        std::shared_ptr<TimerRecord> record = key->record;
        setFor(record->mode).erase(*key);
        std::function<void()> fn;
        if (record->interval > 0) {
            const double now = loop_.uptime();
            double nextFire = record->fireAt + record->interval;
            if (nextFire <= now) {
                const double missed = std::floor((now - record->fireAt) / record->interval);
                nextFire = record->fireAt + (missed + 1) * record->interval;
            }
            insert(record, nextFire);
            fn = record->fn;
        } else {
            record->scheduled = false;
            fn = std::move(record->fn);
            record->fn = nullptr;
        }
        ++fired_;
        if (fn) {
            fn();
        }
        return true;
    }

    std::uint64_t fired() const { return fired_; }

  private:
    std::set<TimerKey>& setFor(TimerMode mode) {
        return mode == TimerMode::Common ? common_ : default_;
    }

    void insert(const std::shared_ptr<TimerRecord>& record, double fireAt) {
        record->fireAt = fireAt;
        record->seq = nextSeq_++;
        record->scheduled = true;
        setFor(record->mode).insert(TimerKey{fireAt, record->seq, record});
    }

    RunLoop& loop_;
    std::set<TimerKey> default_;
    std::set<TimerKey> common_;
    std::uint64_t nextSeq_ = 0;
    std::uint64_t fired_ = 0;
};

class FdWatchSet;

struct FdWatchRecord {
    int fd = -1;
    unsigned events = 0;
    std::function<void(unsigned)> fn;
    bool active = false;
    RunLoop* loop = nullptr;
    WeakRef<FdWatchSet> setAlive;
};

class FdWatchSet : public WeakReferenceable {
  public:
    explicit FdWatchSet(RunLoop& loop) : loop_(loop) {}
    // Handles cancelled while the watches are destroyed must not reach into the set.
    ~FdWatchSet() { dropWeakReferences(); }

    FdWatch add(int fd, unsigned events, std::function<void(unsigned)> fn) {
        auto record = std::make_shared<FdWatchRecord>();
        record->fd = fd;
        record->events = events;
        record->fn = std::move(fn);
        record->active = true;
        record->loop = &loop_;
        record->setAlive = weakRef(*this);
        records_.push_back(record);
        loop_.schedulingChanged();
        return FdWatch(record);
    }

    static void cancel(FdWatchRecord& record) {
        record.fn = nullptr;
        if (!record.active) {
            return;
        }
        record.active = false;
        if (record.setAlive) {
            auto& records = record.loop->fds_->records_;
            std::erase_if(records, [&](const auto& r) { return r.get() == &record; });
            record.loop->schedulingChanged();
        }
    }

    static void setEvents(FdWatchRecord& record, unsigned events) {
        record.events = events;
        if (record.active && record.setAlive) {
            record.loop->schedulingChanged();
        }
    }

    bool empty() const { return records_.empty(); }

    std::vector<RunLoop::WatchedFd> watched() const {
        std::vector<RunLoop::WatchedFd> out;
        for (const auto& r : records_) {
            auto it = std::find_if(out.begin(), out.end(),
                                   [&](const RunLoop::WatchedFd& w) { return w.fd == r->fd; });
            if (it == out.end()) {
                out.push_back(RunLoop::WatchedFd{r->fd, r->events});
            } else {
                it->events |= r->events;
            }
        }
        return out;
    }

    void dispatch(int fd, unsigned events) {
        const std::vector<std::shared_ptr<FdWatchRecord>> watched = records_;
        for (const auto& r : watched) {
            // Hang-ups go to every watch; readiness only to the watches that asked for it.
            const unsigned relevant = events & (r->events | kFdHangUp);
            if (r->fd != fd || !r->active || relevant == 0) {
                continue;
            }
            auto fn = r->fn;
            if (fn) {
                fn(relevant);
            }
        }
    }

    void poll(double timeoutSeconds, int wakeFd) {
        std::vector<pollfd> fds;
        std::vector<std::shared_ptr<FdWatchRecord>> watched = records_;
        for (const auto& r : watched) {
            short events = 0;
            if (r->events & kFdReadable)
                events |= POLLIN;
            if (r->events & kFdWritable)
                events |= POLLOUT;
            fds.push_back(pollfd{r->fd, events, 0});
        }
        if (wakeFd >= 0) {
            fds.push_back(pollfd{wakeFd, POLLIN, 0});
        }
        int timeoutMs = -1;
        if (timeoutSeconds >= 0) {
            timeoutMs = static_cast<int>(
                std::min(std::ceil(timeoutSeconds * 1000.0), static_cast<double>(INT_MAX)));
        }
        if (fds.empty() && timeoutMs < 0) {
            return;  // nothing could ever wake us
        }
        const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
        if (ready <= 0) {
            return;
        }
        if (wakeFd >= 0 && (fds.back().revents & POLLIN)) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wakeFd, &count, sizeof count);
        }
        for (std::size_t i = 0; i < watched.size(); ++i) {
            const short revents = fds[i].revents;
            if (revents == 0 || !watched[i]->active) {
                continue;
            }
            unsigned events = 0;
            if (revents & POLLIN)
                events |= kFdReadable;
            if (revents & POLLOUT)
                events |= kFdWritable;
            if (revents & (POLLHUP | POLLERR | POLLNVAL))
                events |= kFdHangUp;
            auto fn = watched[i]->fn;
            if (fn) {
                fn(events);
            }
        }
    }

  private:
    RunLoop& loop_;
    std::vector<std::shared_ptr<FdWatchRecord>> records_;
};

[[noreturn]] void offMainThread(const char* operation) {
    std::fprintf(stderr, "%s is main thread only, but was called on another thread\n", operation);
    std::abort();
}

}  // namespace detail

// Timer ---------------------------------------------------------------------------------------

Timer::Timer(Timer&& other) noexcept : record_(std::move(other.record_)) {}

Timer& Timer::operator=(Timer&& other) noexcept {
    if (this != &other) {
        cancel();
        record_ = std::move(other.record_);
    }
    return *this;
}

Timer::~Timer() {
    cancel();
}

void Timer::cancel() {
    if (auto record = std::move(record_)) {
        detail::TimerQueue::cancel(*record);
    }
}

bool Timer::isValid() const {
    return record_ && record_->scheduled && record_->queueAlive;
}

// FdWatch -------------------------------------------------------------------------------------

FdWatch::FdWatch(FdWatch&& other) noexcept : record_(std::move(other.record_)) {}

FdWatch& FdWatch::operator=(FdWatch&& other) noexcept {
    if (this != &other) {
        cancel();
        record_ = std::move(other.record_);
    }
    return *this;
}

FdWatch::~FdWatch() {
    cancel();
}

void FdWatch::cancel() {
    if (auto record = std::move(record_)) {
        detail::FdWatchSet::cancel(*record);
    }
}

bool FdWatch::isValid() const {
    return record_ && record_->active && record_->setAlive;
}

void FdWatch::setEvents(unsigned events) {
    if (record_) {
        detail::FdWatchSet::setEvents(*record_, events);
    }
}

// RunLoop -------------------------------------------------------------------------------------

struct RunLoop::Queue {
    std::mutex mutex;
    std::deque<std::function<void()>> blocks;
};

RunLoop::RunLoop()
    : queue_(std::make_unique<Queue>()),
      timers_(std::make_unique<detail::TimerQueue>(*this)),
      fds_(std::make_unique<detail::FdWatchSet>(*this)) {}

RunLoop::~RunLoop() = default;

RunLoop& RunLoop::main() {
    if (!isMainThread()) {
        return otherThreadLoop();
    }
    RunLoop* loop = slot().current.load(std::memory_order_acquire);
    if (loop == nullptr) {
        std::fputs("RunLoop::main() used before a run loop was installed\n", stderr);
        std::abort();
    }
    return *loop;
}

bool RunLoop::hasMain() {
    return slot().current.load(std::memory_order_acquire) != nullptr;
}

std::unique_ptr<RunLoop> RunLoop::install(std::unique_ptr<RunLoop> loop) {
    MainLoopSlot& s = slot();
    std::unique_lock lock(s.mutex);
    if (s.loop) {
        s.lastNow = s.loop->now();
        s.lastUptime = s.loop->uptime();
    }
    s.thread.store(std::this_thread::get_id(), std::memory_order_release);
    s.current.store(loop.get(), std::memory_order_release);
    return std::exchange(s.loop, std::move(loop));
}

bool RunLoop::isMainThread() {
    const std::thread::id main = slot().thread.load(std::memory_order_acquire);
    return main == std::thread::id() || main == std::this_thread::get_id();
}

Timer RunLoop::after(double seconds, std::function<void()> fn, TimerMode mode) {
    ORVEL_ASSERT_MAIN_THREAD("RunLoop::after");
    return timers_->schedule(sanitizedDelay(seconds), 0.0, std::move(fn), mode);
}

Timer RunLoop::every(double interval, std::function<void()> fn, TimerMode mode) {
    ORVEL_ASSERT_MAIN_THREAD("RunLoop::every");
    const double safeInterval = std::max(sanitizedDelay(interval), 0.001);
    return timers_->schedule(safeInterval, safeInterval, std::move(fn), mode);
}

FdWatch RunLoop::watchFd(int fd, unsigned events, std::function<void(unsigned)> fn) {
    ORVEL_ASSERT_MAIN_THREAD("RunLoop::watchFd");
    return fds_->add(fd, events, std::move(fn));
}

std::shared_ptr<SerialQueue> RunLoop::makeSerialQueue(std::string name) {
    return std::make_shared<ThreadSerialQueue>(std::move(name));
}

std::uint64_t RunLoop::timersFired() const {
    return timers_->fired();
}

void RunLoop::enqueue(std::function<void()> fn) {
    std::lock_guard lock(queue_->mutex);
    queue_->blocks.push_back(std::move(fn));
}

bool RunLoop::hasQueuedBlocks() const {
    std::lock_guard lock(queue_->mutex);
    return !queue_->blocks.empty();
}

void RunLoop::runPending() {
    ORVEL_ASSERT_MAIN_THREAD("turning the run loop");
    // Timers that fall due while this pass runs wait for the next one: a timer slower than its
    // interval would otherwise keep the loop from its descriptors and from quit() for good.
    const double passStart = uptime();
    for (;;) {
        // One block at a time: a block may run a nested loop that must see the blocks after it.
        std::function<void()> block;
        {
            std::lock_guard lock(queue_->mutex);
            if (!queue_->blocks.empty()) {
                block = std::move(queue_->blocks.front());
                queue_->blocks.pop_front();
            }
        }
        if (block) {
            block();
            continue;
        }
        if (!timers_->fireOneDue(passStart)) {
            return;
        }
    }
}

double RunLoop::nextTimerDue() const {
    const detail::TimerKey* key = timers_->next();
    return key == nullptr ? -1.0 : key->fireAt;
}

void RunLoop::pollDescriptors(double timeoutSeconds, int wakeFd) {
    fds_->poll(timeoutSeconds, wakeFd);
}

bool RunLoop::hasFdWatches() const {
    return !fds_->empty();
}

std::vector<RunLoop::WatchedFd> RunLoop::watchedFds() const {
    return fds_->watched();
}

void RunLoop::dispatchFd(int fd, unsigned events) {
    fds_->dispatch(fd, events);
}

bool runModalFor(double seconds, const std::function<bool()>& done) {
    ORVEL_ASSERT_MAIN_THREAD("runModalFor");
    if (done()) {
        return true;
    }
    bool timedOut = false;
    const Timer limit = RunLoop::main().after(
        seconds, [&timedOut] { timedOut = true; }, TimerMode::Common);
    RunLoop::main().runModal([&] { return timedOut || done(); });
    return done();
}

}  // namespace orvel
