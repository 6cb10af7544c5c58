#include "foundation/PollRunLoop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/SerialQueue.h"

namespace orvel {
namespace {

// The real-clock loop, driven only by events, never by waiting for time to pass: each test
// has a generous limit that a correct loop never reaches.
class PollRunLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto owned = std::make_unique<PollRunLoop>();
        loop = owned.get();
        RunLoop::install(std::move(owned));
    }
    void TearDown() override { RunLoop::install(nullptr); }

    static constexpr double kLimit = 30.0;
    PollRunLoop* loop = nullptr;
};

TEST_F(PollRunLoopTest, AsyncFromAnotherThreadWakesTheLoop) {
    bool ran = false;
    std::thread worker([&] { loop->async([&] { ran = true; }); });
    EXPECT_TRUE(loop->runFor(kLimit, [&] { return ran; }));
    worker.join();
}

TEST_F(PollRunLoopTest, DueTimersFireAndQuitEndsRun) {
    std::vector<std::string> fired;
    Timer t = loop->after(0, [&] {
        fired.push_back("timer");
        loop->quit();
    });
    loop->run();
    EXPECT_EQ(fired, (std::vector<std::string>{"timer"}));
}

TEST_F(PollRunLoopTest, RepeatingIntervalsBelowOneMillisecondWaitAMillisecondBetweenFirings) {
    struct Case {
        const char* name;
        double interval;
    };
    const Case cases[] = {{"zero", 0.0}, {"negative", -1.0}, {"not a number", std::nan("")}};
    for (const Case& c : cases) {
        constexpr int kFirings = 5;
        const double start = loop->uptime();
        std::vector<double> at;
        Timer t = loop->every(c.interval, [&] { at.push_back(loop->uptime() - start); });
        ASSERT_TRUE(loop->runFor(kLimit, [&] { return at.size() == kFirings; })) << c.name;
        // Only a lower bound: a slow machine may fire later, never sooner.
        for (int i = 0; i < kFirings; ++i) {
            EXPECT_GE(at[i], (i + 1) * 0.001 - 1e-9) << c.name << ": firing " << i + 1;
        }
    }
}

TEST_F(PollRunLoopTest, ATimerSlowerThanItsIntervalLetsDescriptorsInBetweenFirings) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int firings = 0;
    std::optional<int> firingsWhenRead;
    FdWatch watch = loop->watchFd(fds[0], kFdReadable, [&](unsigned) {
        char byte;
        ASSERT_EQ(read(fds[0], &byte, 1), 1);
        firingsWhenRead = firings;
    });
    Timer slow = loop->every(0, [&] {
        if (++firings == 1) {
            ASSERT_EQ(write(fds[1], "x", 1), 1);
        }
        // Work that outlasts the millisecond interval, for a bounded number of firings so that
        // a loop that never looks at its descriptors still ends.
        if (firings < 300) {
            const double until = loop->uptime() + 0.002;
            while (loop->uptime() < until) {
            }
        }
    });
    ASSERT_TRUE(loop->runFor(kLimit, [&] { return firingsWhenRead.has_value(); }));
    EXPECT_EQ(*firingsWhenRead, 1) << "the byte written at the first firing is read next";
    watch.cancel();
    close(fds[0]);
    close(fds[1]);
}

TEST_F(PollRunLoopTest, WatchedDescriptorDeliversReadiness) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string received;
    FdWatch watch = loop->watchFd(fds[0], kFdReadable, [&](unsigned events) {
        EXPECT_TRUE(events & kFdReadable);
        char buffer[16];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        received.append(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
    });
    std::thread writer([&] { ASSERT_EQ(write(fds[1], "ping", 4), 4); });
    EXPECT_TRUE(loop->runFor(kLimit, [&] { return received == "ping"; }));
    writer.join();
    watch.cancel();
    close(fds[0]);
    close(fds[1]);
}

TEST_F(PollRunLoopTest, ThreadSerialQueueRunsOffTheMainThreadInOrder) {
    auto queue = loop->makeSerialQueue("orvel.test-io");
    std::vector<int> results;
    std::atomic<bool> offMain{true};
    for (int i = 0; i < 5; ++i) {
        queue->post([&, i] {
            if (loop->isMainThread()) {
                offMain = false;
            }
            loop->async([&, i] { results.push_back(i); });
        });
    }
    EXPECT_TRUE(loop->runFor(kLimit, [&] { return results.size() == 5; }));
    EXPECT_EQ(results, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(offMain);
}

}  // namespace
}  // namespace orvel
