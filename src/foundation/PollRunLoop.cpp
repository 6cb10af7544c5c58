#include "foundation/PollRunLoop.h"

#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace orvel {

namespace {

double readClock(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

PollRunLoop::PollRunLoop() {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        std::perror("eventfd");
        std::abort();
    }
}

PollRunLoop::~PollRunLoop() {
    ::close(wakeFd_);
}

Date PollRunLoop::now() const {
    return Date::fromUnix(readClock(CLOCK_REALTIME));
}

double PollRunLoop::uptime() const {
    return readClock(CLOCK_MONOTONIC);
}

void PollRunLoop::async(std::function<void()> fn) {
    enqueue(std::move(fn));
    wake();
}

void PollRunLoop::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

bool PollRunLoop::runUntil(const std::function<bool()>& done, double deadline) {
    for (;;) {
        runPending();
        if (done()) {
            return true;
        }
        if (quitRequested_) {
            return false;
        }
        const double now = uptime();
        double timeout = -1.0;
        const double due = nextTimerDue();
        if (due >= 0.0) {
            timeout = std::max(0.0, due - now);
        }
        if (deadline >= 0.0) {
            if (now >= deadline) {
                return false;
            }
            timeout = timeout < 0.0 ? deadline - now : std::min(timeout, deadline - now);
        }
        if (!hasQueuedBlocks()) {
            pollDescriptors(timeout, wakeFd_);
        }
    }
}

void PollRunLoop::run() {
    runUntil([] { return false; }, -1.0);
    quitRequested_ = false;
}

void PollRunLoop::quit() {
    quitRequested_ = true;
    wake();
}

bool PollRunLoop::runModal(const std::function<bool()>& done) {
    ++modalDepth_;
    const bool finished = runUntil(done, -1.0);
    --modalDepth_;
    return finished;
}

bool PollRunLoop::runFor(double timeoutSeconds, const std::function<bool()>& done) {
    return runUntil(done, uptime() + timeoutSeconds);
}

}  // namespace orvel
