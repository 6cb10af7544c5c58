#include "foundation/VirtualRunLoop.h"

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
    return Date{uptime_ + wallOffset_};
}

std::shared_ptr<SerialQueue> VirtualRunLoop::makeSerialQueue(std::string name) {
    return std::make_shared<InlineSerialQueue>(*this, std::move(name));
}

void VirtualRunLoop::drain() {
    for (;;) {
        runPending();
        if (!hasFdWatches()) {
            return;
        }
        pollDescriptors(0.0, -1);
        const double due = nextTimerDue();
        if (!hasQueuedBlocks() && (due < 0.0 || due > uptime_)) {
            return;
        }
    }
}

void VirtualRunLoop::advance(double seconds) {
    if (!(seconds > 0.0)) {
        drain();
        return;
    }
    const double target = uptime_ + seconds;
    drain();
    for (;;) {
        const double due = nextTimerDue();
        if (due < 0.0 || due > target) {
            break;
        }
        uptime_ = std::max(uptime_, due);
        drain();
    }
    uptime_ = target;
    drain();
}

void VirtualRunLoop::sleepMachine(double seconds) {
    if (seconds > 0.0) {
        wallOffset_ += seconds;
    }
}

void VirtualRunLoop::setNow(Date date) {
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
        uptime_ = std::max(uptime_, due);
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
