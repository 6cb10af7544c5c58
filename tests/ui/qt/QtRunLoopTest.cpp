#include "ui/qt/QtRunLoop.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QWidget>

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace orvel::ui {
namespace {

// Driven by events only: each wait has a generous limit that a correct loop never reaches.
class QtRunLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto owned = std::make_unique<QtRunLoop>();
        loop = owned.get();
        RunLoop::install(std::move(owned));
    }
    void TearDown() override { RunLoop::install(nullptr); }

    static constexpr double kLimit = 30.0;
    QtRunLoop* loop = nullptr;
};

TEST_F(QtRunLoopTest, TimersFireInTheOrderOfTheirDueTimes) {
    std::vector<std::string> fired;
    Timer late = loop->after(0.03, [&] { fired.push_back("late"); });
    Timer early = loop->after(0.01, [&] { fired.push_back("early"); });
    Timer now = loop->after(0, [&] { fired.push_back("now"); });
    Timer sameAsEarly = loop->after(0.01, [&] { fired.push_back("early2"); });
    EXPECT_TRUE(loop->runFor(kLimit, [&] { return fired.size() == 4; }));
    EXPECT_EQ(fired, (std::vector<std::string>{"now", "early", "early2", "late"}));
}

TEST_F(QtRunLoopTest, ACancelledTimerNeverFires) {
    bool cancelledFired = false;
    bool laterFired = false;
    Timer cancelled = loop->after(0.005, [&] { cancelledFired = true; });
    Timer later = loop->after(0.02, [&] { laterFired = true; });
    cancelled.cancel();
    EXPECT_FALSE(cancelled.isValid());
    EXPECT_TRUE(loop->runFor(kLimit, [&] { return laterFired; }));
    EXPECT_FALSE(cancelledFired);
}

TEST_F(QtRunLoopTest, ARepeatingTimerKeepsFiringUntilCancelled) {
    int ticks = 0;
    bool markerFired = false;
    Timer repeating;
    Timer marker;
    repeating = loop->every(0.002, [&] {
        if (++ticks == 3) {
            repeating.cancel();
            // Due after the next tick would be: timers fire in the order they fall due, however
            // late the loop gets to them, so a tick after the cancel would come first.
            marker = loop->after(0.02, [&] { markerFired = true; });
        }
    });
    EXPECT_TRUE(loop->runFor(kLimit, [&] { return markerFired; }));
    EXPECT_EQ(ticks, 3);
}

TEST_F(QtRunLoopTest, DefaultTimersWaitDuringAModalLoopWhileCommonOnesFire) {
    std::vector<std::string> fired;
    Timer held = loop->after(0, [&] { fired.push_back("default"); });
    bool stop = false;
    Timer common = loop->after(
        0.01,
        [&] {
            fired.push_back("common");
            stop = true;
        },
        TimerMode::Common);
    bool modalWasOn = false;
    // The modal loop is entered from a queued block, as an alert shown by a click would be.
    loop->async([&] {
        modalWasOn = loop->runModal([&] {
            EXPECT_TRUE(loop->isModal());
            return stop;
        });
    });
    EXPECT_TRUE(loop->runFor(kLimit, [&] { return fired.size() == 2; }));
    EXPECT_TRUE(modalWasOn);
    EXPECT_FALSE(loop->isModal());
    EXPECT_EQ(fired, (std::vector<std::string>{"common", "default"}))
        << "the due default timer fires only after the modal loop ends";
}

TEST_F(QtRunLoopTest, QueuedBlocksRunInOrderEvenInsideAModalLoop) {
    std::vector<int> ran;
    loop->async([&] {
        ran.push_back(1);
        loop->runModal([&] { return ran.size() == 3; });
        ran.push_back(4);
    });
    loop->async([&] { ran.push_back(2); });
    loop->async([&] { ran.push_back(3); });
    EXPECT_TRUE(loop->runFor(kLimit, [&] { return ran.size() == 4; }));
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(QtRunLoopTest, AsyncFromAnotherThreadWakesTheLoop) {
    std::vector<int> received;
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) {
            loop->async([&received, i] { received.push_back(i); });
        }
    });
    EXPECT_TRUE(loop->runFor(kLimit, [&] { return received.size() == 100; }));
    worker.join();
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(received[static_cast<std::size_t>(i)], i) << "blocks keep the order they came in";
    }
}

TEST_F(QtRunLoopTest, BlocksPostedWhileTheLoopIsTornDownAreDroppedNotRun) {
    const auto spinUntil = [](const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        return done();
    };
    // Every block holds the token: once the worker is done, only the test may hold it.
    auto token = std::make_shared<int>(0);
    std::atomic<int> ran{0};
    std::atomic<int> posted{0};
    std::atomic<bool> stop{false};
    std::thread worker([&, token] {
        while (!stop) {
            RunLoop::main().async([&ran, token] { ++ran; });
            ++posted;
        }
    });
    EXPECT_TRUE(spinUntil([&] { return posted > 1000; }));
    RunLoop::install(nullptr);  // destroys the loop with the worker's blocks and events in it
    loop = nullptr;
    const int postedAtTeardown = posted;
    EXPECT_TRUE(spinUntil([&] { return posted > postedAtTeardown + 1000; }));
    stop = true;
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(token.use_count(), 1) << "every block was destroyed";
}

TEST_F(QtRunLoopTest, AWatchedPipeDeliversReadinessAndHangUp) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string received;
    bool hungUp = false;
    FdWatch watch = loop->watchFd(fds[0], kFdReadable, [&](unsigned events) {
        char buffer[16];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        received.append(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
        if (n == 0 && (events & kFdHangUp)) {
            hungUp = true;
        }
    });
    std::thread writer([&] {
        ASSERT_EQ(write(fds[1], "ping", 4), 4);
        close(fds[1]);
    });
    EXPECT_TRUE(loop->runFor(kLimit, [&] { return received == "ping" && hungUp; }));
    writer.join();
    watch.cancel();
    close(fds[0]);
}

TEST_F(QtRunLoopTest, ACancelledWatchIsNoLongerCalled) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int calls = 0;
    int otherCalls = 0;
    FdWatch watch = loop->watchFd(fds[0], kFdReadable, [&](unsigned) { ++calls; });
    // A second watch on the same pipe shows when the readiness has been delivered.
    FdWatch other = loop->watchFd(fds[0], kFdReadable, [&](unsigned) {
        char c;
        ASSERT_EQ(read(fds[0], &c, 1), 1);
        ++otherCalls;
    });
    watch.cancel();
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    EXPECT_TRUE(loop->runFor(kLimit, [&] { return otherCalls == 1; }));
    EXPECT_EQ(calls, 0);
    other.cancel();
    close(fds[0]);
    close(fds[1]);
}

TEST_F(QtRunLoopTest, QuitEndsRunAndANestedModalLoop) {
    bool modalFinished = true;
    Timer enter = loop->after(0, [&] { modalFinished = loop->runModal([] { return false; }); });
    Timer stop = loop->after(
        0.01, [&] { loop->quit(); }, TimerMode::Common);
    loop->run();
    EXPECT_FALSE(modalFinished) << "quit ends the modal loop without its condition";
}

TEST_F(QtRunLoopTest, QuitEndsRunWhileAWindowThatOnlyHidesOnCloseIsShown) {
    class HidingWindow final : public QWidget {
      protected:
        void closeEvent(QCloseEvent* event) override { event->ignore(); }
    };
    HidingWindow window;
    window.show();
    bool timedOut = false;
    Timer stop = loop->after(
        0.01, [&] { loop->quit(); }, TimerMode::Common);
    Timer limit = loop->after(
        kLimit,
        [&] {
            timedOut = true;
            QCoreApplication::exit(1);
        },
        TimerMode::Common);
    loop->run();
    EXPECT_FALSE(timedOut) << "the window's refusal to close held the loop";
    EXPECT_TRUE(window.isVisible()) << "quitting does not ask the windows";
}

}  // namespace
}  // namespace orvel::ui
