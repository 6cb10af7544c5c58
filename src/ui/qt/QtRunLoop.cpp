#include "ui/qt/QtRunLoop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <poll.h>
#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace orvel::ui {

namespace {

double readClock(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// What a descriptor reports now: the notifier says only "readable" or "writable", while callers
// also want to hear of hang-ups.
unsigned pollNow(int fd, unsigned asked) {
    pollfd p{fd, 0, 0};
    if (asked & kFdReadable)
        p.events |= POLLIN;
    if (asked & kFdWritable)
        p.events |= POLLOUT;
    if (::poll(&p, 1, 0) <= 0) {
        return 0;
    }
    unsigned events = 0;
    if (p.revents & POLLIN)
        events |= kFdReadable;
    if (p.revents & POLLOUT)
        events |= kFdWritable;
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
        events |= kFdHangUp;
    return events;
}

}  // namespace

QtRunLoop::QtRunLoop() : context_(std::make_unique<QObject>()) {
    if (QCoreApplication::instance() == nullptr) {
        std::fputs("QtRunLoop needs a QCoreApplication\n", stderr);
        std::abort();
    }
    timer_ = new QTimer(context_.get());
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_, &QTimer::timeout, context_.get(), [this] { drain(); });
}

QtRunLoop::~QtRunLoop() {
    // Notifiers and the timer belong to the context; nothing may call back into a half-gone loop.
    notifiers_.clear();
    context_.reset();
    timer_ = nullptr;
}

Date QtRunLoop::now() const {
    return Date::fromUnix(readClock(CLOCK_REALTIME));
}

double QtRunLoop::uptime() const {
    return readClock(CLOCK_MONOTONIC);
}

void QtRunLoop::async(std::function<void()> fn) {
    enqueue(std::move(fn));
    postDrain();
}

void QtRunLoop::postDrain() {
    // One posted event stands for any number of queued blocks.
    if (drainPosted_.exchange(true)) {
        return;
    }
    QMetaObject::invokeMethod(
        context_.get(),
        [this] {
            drainPosted_ = false;
            drain();
        },
        Qt::QueuedConnection);
}

void QtRunLoop::drain() {
    runPending();
    rearm();
}

void QtRunLoop::rearm() {
    if (timer_ == nullptr) {
        return;
    }
    const double due = nextTimerDue();
    if (due < 0) {
        timer_->stop();
        return;
    }
    const double wait = std::max(0.0, due - uptime());
    // Qt timers count whole milliseconds: round up so the timer is due when the loop wakes.
    const double ms = std::min(std::ceil(wait * 1000.0), 2'000'000'000.0);
    timer_->start(static_cast<int>(ms));
}

void QtRunLoop::schedulingChanged() {
    rearm();
    syncNotifiers();
}

void QtRunLoop::syncNotifiers() {
    if (!context_) {
        return;
    }
    std::vector<WatchedFd> now = watchedFds();
    if (now == notified_) {
        return;
    }
    notified_ = now;
    std::map<std::pair<int, unsigned>, QSocketNotifier*> wanted;
    for (const WatchedFd& w : now) {
        for (unsigned kind : {unsigned(kFdReadable), unsigned(kFdWritable)}) {
            if ((w.events & kind) == 0) {
                continue;
            }
            const auto key = std::make_pair(w.fd, kind);
            auto found = notifiers_.find(key);
            if (found != notifiers_.end()) {
                wanted.insert(*found);
                notifiers_.erase(found);
                continue;
            }
            auto* notifier = new QSocketNotifier(
                kind == kFdReadable ? QSocketNotifier::Read : QSocketNotifier::Write,
                context_.get());
            notifier->setSocket(w.fd);
            notifier->setEnabled(true);
            const int fd = w.fd;
            QObject::connect(notifier, &QSocketNotifier::activated, context_.get(),
                             [this, fd, kind] { descriptorReady(fd, kind); });
            wanted.emplace(key, notifier);
        }
    }
    for (auto& [key, notifier] : notifiers_) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    notifiers_ = std::move(wanted);
}

void QtRunLoop::descriptorReady(int fd, unsigned asked) {
    unsigned events = pollNow(fd, asked);
    if (events == 0) {
        events = asked;  // the notifier saw it; report what it saw
    }
    dispatchFd(fd, events);
    drain();
}

bool QtRunLoop::turnUntil(const std::function<bool()>& done, double deadline) {
    ++turning_;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    if (deadline >= 0) {
        const double ms = std::max(0.0, std::ceil((deadline - uptime()) * 1000.0));
        limit.start(static_cast<int>(std::min(ms, 2'000'000'000.0)));
    }
    bool finished = false;
    for (;;) {
        runPending();
        rearm();
        if (done()) {
            finished = true;
            break;
        }
        if (quitRequested_ || (deadline >= 0 && uptime() >= deadline)) {
            break;
        }
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    --turning_;
    return finished;
}

void QtRunLoop::run() {
    quitRequested_ = false;
    // The first turn runs inside exec(), so that a quit() it makes ends exec().
    QMetaObject::invokeMethod(
        context_.get(), [this] { drain(); }, Qt::QueuedConnection);
    inExec_ = true;
    QCoreApplication::exec();
    inExec_ = false;
    quitRequested_ = false;
}

void QtRunLoop::quit() {
    quitRequested_ = true;
    if (inExec_) {
        // Not quit(): that first asks every window to close, and a window that only hides on
        // close would cancel it, leaving SIGTERM unanswered while Settings is open.
        QCoreApplication::exit(0);
    }
    // Wakes a nested loop that waits for events so that it sees the request.
    QMetaObject::invokeMethod(
        context_.get(), [] {}, Qt::QueuedConnection);
}

bool QtRunLoop::runModal(const std::function<bool()>& done) {
    ++modalDepth_;
    const bool finished = turnUntil(done, -1.0);
    --modalDepth_;
    // Default-mode timers held back during the modal loop may be due now.
    rearm();
    return finished;
}

bool QtRunLoop::runFor(double timeoutSeconds, const std::function<bool()>& done) {
    if (turning_ == 0) {
        quitRequested_ = false;
    }
    const bool finished = turnUntil(done, uptime() + std::max(0.0, timeoutSeconds));
    if (turning_ == 0) {
        quitRequested_ = false;
    }
    return finished;
}

}  // namespace orvel::ui
