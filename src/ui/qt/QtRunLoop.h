#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "foundation/RunLoop.h"

class QObject;
class QSocketNotifier;
class QTimer;

namespace orvel::ui {

// The application's main loop: Qt's event loop drives the base's queue, timers and descriptor
// watches. Queued blocks arrive as posted events, the next due timer is one precise Qt timer, and
// each watched descriptor has socket notifiers. Needs a QCoreApplication; main thread only, except
// async().
class QtRunLoop final : public RunLoop {
  public:
    QtRunLoop();
    ~QtRunLoop() override;

    Date now() const override;
    double uptime() const override;
    void async(std::function<void()> fn) override;

    void run() override;
    void quit() override;
    bool runModal(const std::function<bool()>& done) override;

    // Turns the loop until done() is true or `timeoutSeconds` of real time have passed; true when
    // done. For tests and start-up code that waits on an event with a limit.
    bool runFor(double timeoutSeconds, const std::function<bool()>& done);

  protected:
    void schedulingChanged() override;

  private:
    void drain();
    void rearm();
    void syncNotifiers();
    void descriptorReady(int fd, unsigned asked);
    void postDrain();
    bool turnUntil(const std::function<bool()>& done, double deadline);

    std::unique_ptr<QObject> context_;
    QTimer* timer_ = nullptr;
    std::map<std::pair<int, unsigned>, QSocketNotifier*> notifiers_;
    std::vector<WatchedFd> notified_;
    std::atomic<bool> drainPosted_{false};
    bool quitRequested_ = false;
    bool inExec_ = false;
    int turning_ = 0;
};

}  // namespace orvel::ui
