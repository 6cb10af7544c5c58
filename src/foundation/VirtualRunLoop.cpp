#include "foundation/VirtualRunLoop.h"

#include <algorithm>
#include <cmath>

#include "foundation/SerialQueue.h"

namespace orvel {

namespace {

// Runs its tasks as queued blocks of the virtual loop, in order, on the main thread.
class InlineSerialQueue final : public SerialQueue {
  public:
    InlineSerialQueue(RunLoop& loop, std::string name) : loop_(loop), name_(std::move(name)) {}
    void post(std::function<void()> task) override { loop_.async(std::move(task)); }
    const std::string& name() const override { return name_; }

  private:
    RunLoop& loop_;
    std::string name_;
};

}  // namespace

VirtualRunLoop::VirtualRunLoop(Date start) : wallOffset_(start.secondsSinceReferenceDate) {}

Date VirtualRunLoop::now() const {
    std::lock_guard lock(clockMutex_);
    return Date{uptime_ + wallOffset_};
}

double VirtualRunLoop::uptime() const {
    std::lock_guard lock(clockMutex_);
    return uptime_;
}

void VirtualRunLoop::moveUptimeTo(double uptime) {
    std::lock_guard lock(clockMutex_);
    uptime_ = std::max(uptime_, uptime);
}

std::shared_ptr<SerialQueue> VirtualRunLoop::makeSerialQueue(std::string name) {
    return std::make_shared<InlineSerialQueue>(*this, std::move(name));
}

std::optional<double> VirtualRunLoop::nextTimerIn() const {
    const double due = nextTimerDue();
    if (due < 0) {
        return std::nullopt;
    }
    return std::max(0.0, due - uptime());
}

void VirtualRunLoop::drain() {
    for (;;) {
        runPending();
        if (!hasFdWatches()) {
            return;
        }
        pollDescriptors(0.0, -1);
        const double due = nextTimerDue();
        if (!hasQueuedBlocks() && (due < 0.0 || due > uptime())) {
            return;
        }
    }
}

void VirtualRunLoop::advance(double seconds) {
    ORVEL_ASSERT_MAIN_THREAD("VirtualRunLoop::advance");
    if (!(seconds > 0.0)) {
        drain();
        return;
    }
    const double target = uptime() + seconds;
    drain();
    for (;;) {
        const double due = nextTimerDue();
        if (due < 0.0 || due > target) {
            break;
        }
        moveUptimeTo(due);
        drain();
    }
    moveUptimeTo(target);
    drain();
}

void VirtualRunLoop::sleepMachine(double seconds) {
    ORVEL_ASSERT_MAIN_THREAD("VirtualRunLoop::sleepMachine");
    if (seconds > 0.0) {
        std::lock_guard lock(clockMutex_);
        wallOffset_ += seconds;
    }
}

void VirtualRunLoop::setNow(Date date) {
    ORVEL_ASSERT_MAIN_THREAD("VirtualRunLoop::setNow");
    std::lock_guard lock(clockMutex_);
    wallOffset_ = date.secondsSinceReferenceDate - uptime_;
}

bool VirtualRunLoop::runUntil(const std::function<bool()>& done) {
    for (;;) {
        drain();
        if (done()) {
            return true;
        }
        if (quitRequested_) {
            return false;
        }
        const double due = nextTimerDue();
        if (due < 0.0) {
            return false;
        }
        moveUptimeTo(due);
    }
}

void VirtualRunLoop::run() {
    runUntil([this] { return quitRequested_; });
    quitRequested_ = false;
}

bool VirtualRunLoop::runModal(const std::function<bool()>& done) {
    ++modalDepth_;
    const bool finished = runUntil(done);
    --modalDepth_;
    return finished;
}

}  // namespace orvel
