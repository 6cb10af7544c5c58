#include "foundation/VirtualRunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "foundation/SerialQueue.h"

namespace orvel {
namespace {

class VirtualRunLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto owned = std::make_unique<VirtualRunLoop>();
        loop = owned.get();
        RunLoop::install(std::move(owned));
    }
    void TearDown() override { RunLoop::install(nullptr); }

    VirtualRunLoop* loop = nullptr;
    std::vector<std::string> fired;
};

TEST_F(VirtualRunLoopTest, FiresTimersInTimeOrderThenSchedulingOrder) {
    Timer c = loop->after(3, [&] { fired.push_back("c@" + std::to_string(loop->uptime())); });
    Timer a = loop->after(1, [&] { fired.push_back("a@" + std::to_string(loop->uptime())); });
    Timer b1 = loop->after(2, [&] { fired.push_back("b1"); });
    Timer b2 = loop->after(2, [&] { fired.push_back("b2"); });

    loop->advance(2.5);
    EXPECT_EQ(fired, (std::vector<std::string>{"a@1.000000", "b1", "b2"}));
    EXPECT_DOUBLE_EQ(loop->uptime(), 2.5);
    EXPECT_TRUE(c.isValid());
    EXPECT_FALSE(a.isValid()) << "a fired one-shot timer is no longer valid";

    loop->advance(0.5);
    EXPECT_EQ(fired.back(), "c@3.000000");
}

TEST_F(VirtualRunLoopTest, QueuedBlocksRunBeforeLaterTimersAndInFifoOrder) {
    Timer t = loop->after(1, [&] {
        fired.push_back("timer");
        loop->async([&] { fired.push_back("from timer"); });
    });
    Timer later = loop->after(1.5, [&] { fired.push_back("later"); });
    loop->async([&] { fired.push_back("one"); });
    loop->async([&] { fired.push_back("two"); });
    EXPECT_TRUE(fired.empty()) << "nothing runs before the loop turns";

    loop->advance(2);
    EXPECT_EQ(fired, (std::vector<std::string>{"one", "two", "timer", "from timer", "later"}));
}

TEST_F(VirtualRunLoopTest, CancelledOrDroppedTimersNeverFire) {
    Timer cancelled = loop->after(1, [&] { fired.push_back("cancelled"); });
    {
        Timer dropped = loop->after(1, [&] { fired.push_back("dropped"); });
    }
    Timer replaced = loop->after(1, [&] { fired.push_back("replaced"); });
    replaced = loop->after(2, [&] { fired.push_back("replacement"); });
    cancelled.cancel();

    loop->advance(5);
    EXPECT_EQ(fired, (std::vector<std::string>{"replacement"}));
}

TEST_F(VirtualRunLoopTest, ATimerMayCancelItselfOrDestroyItsOwnerWhileFiring) {
    struct Owner {
        Timer timer;
        int* count;
    };
    int count = 0;
    auto owner = std::make_unique<Owner>(Owner{{}, &count});
    owner->timer = loop->every(1, [&] {
        ++count;
        owner.reset();  // destroys the handle of the running timer
    });
    Timer other = loop->every(1, [&] { ++count; });
    Timer self;
    self = loop->every(1, [&] {
        ++count;
        self.cancel();
    });

    loop->advance(5);
    EXPECT_EQ(count, 1 + 5 + 1);
}

TEST_F(VirtualRunLoopTest, RepeatingTimerKeepsItsCadence) {
    std::vector<double> at;
    Timer t = loop->every(30, [&] { at.push_back(loop->uptime()); });
    loop->advance(95);
    EXPECT_EQ(at, (std::vector<double>{30, 60, 90}));
}

TEST_F(VirtualRunLoopTest, RepeatingIntervalsBelowOneMillisecondCountAsOneMillisecond) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        double interval;
        std::vector<double> firedAtMs;  // within the first 10.5 ms
    };
    const std::vector<double> everyMs{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const Case cases[] = {
        {"zero", 0.0, everyMs},
        {"negative", -1.0, everyMs},
        {"minus infinity", -inf, everyMs},
        {"not a number", std::nan(""), everyMs},
        {"half a millisecond", 0.0005, everyMs},
        {"one millisecond", 0.001, everyMs},
        {"two milliseconds", 0.002, {2, 4, 6, 8, 10}},
        {"infinite", inf, {}},
    };
    for (const Case& c : cases) {
        const double start = loop->uptime();
        std::vector<double> firedAtMs;
        Timer t = loop->every(c.interval, [&] {
            firedAtMs.push_back(std::round((loop->uptime() - start) * 1e6) / 1e3);
        });
        loop->drain();
        EXPECT_TRUE(firedAtMs.empty()) << c.name << ": no firing before time passes";
        loop->advance(0.0105);
        EXPECT_EQ(firedAtMs, c.firedAtMs) << c.name;
        EXPECT_TRUE(t.isValid()) << c.name << ": it keeps repeating";
    }
}

TEST_F(VirtualRunLoopTest, AMillisecondTimerLeavesTurnsForBlocksAndOtherTimers) {
    int ticks = 0;
    Timer fast = loop->every(0, [&] {
        fired.push_back("tick " + std::to_string(++ticks));
        if (ticks == 2) {
            loop->async([&] { fired.push_back("block"); });
        }
    });
    Timer other = loop->after(0.0035, [&] { fired.push_back("other"); });
    loop->advance(0.0045);
    EXPECT_EQ(fired,
              (std::vector<std::string>{"tick 1", "tick 2", "block", "tick 3", "other", "tick 4"}));
}

TEST_F(VirtualRunLoopTest, ModalLoopHoldsDefaultTimersBackButRunsCommonOnesAndBlocks) {
    Timer def = loop->after(1, [&] { fired.push_back("default"); });
    Timer common = loop->after(
        2, [&] { fired.push_back("common"); }, TimerMode::Common);
    Timer end = loop->after(
        3, [&] { fired.push_back("end"); }, TimerMode::Common);
    loop->async([&] { fired.push_back("block"); });

    const bool finished = loop->runModal([&] { return !fired.empty() && fired.back() == "end"; });
    EXPECT_TRUE(finished);
    EXPECT_EQ(fired, (std::vector<std::string>{"block", "common", "end"}));
    EXPECT_DOUBLE_EQ(loop->uptime(), 3);

    loop->drain();  // the overdue default-mode timer fires once the modal loop is over
    EXPECT_EQ(fired.back(), "default");
}

TEST_F(VirtualRunLoopTest, ModalLoopReturnsFalseWhenNothingCanFinishIt) {
    Timer def = loop->after(1, [&] { fired.push_back("default"); });
    EXPECT_FALSE(loop->runModal([] { return false; }));
    EXPECT_TRUE(fired.empty());
}

TEST_F(VirtualRunLoopTest, OddDelaysAreSanitizedNotOverflowed) {
    Timer negative = loop->after(-5, [&] { fired.push_back("negative"); });
    Timer nan = loop->after(std::nan(""), [&] { fired.push_back("nan"); });
    Timer huge = loop->after(static_cast<double>(std::numeric_limits<std::int64_t>::max()),
                             [&] { fired.push_back("huge"); });
    Timer infinite =
        loop->after(std::numeric_limits<double>::infinity(), [&] { fired.push_back("infinite"); });
    loop->drain();
    EXPECT_EQ(fired, (std::vector<std::string>{"negative", "nan"}));
    loop->advance(100.0 * 365 * 24 * 3600);
    EXPECT_EQ(fired.size(), 2u);
    EXPECT_TRUE(huge.isValid());
    EXPECT_TRUE(infinite.isValid());
}

TEST_F(VirtualRunLoopTest, AsyncFromAnotherThreadRunsOnTheMainThreadAtTheNextDrain) {
    std::thread::id ranOn;
    std::thread worker([&] { loop->async([&] { ranOn = std::this_thread::get_id(); }); });
    worker.join();
    EXPECT_EQ(ranOn, std::thread::id());
    loop->drain();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(loop->isMainThread());
}

TEST_F(VirtualRunLoopTest, AnotherThreadReadsOnlyTimesTheClockHasShown) {
    // Each round moves the monotonic clock a second on and then sets the wall clock back: the
    // wall clock shows the set time or one second past it, never anything else.
    const Date set = loop->now();
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::vector<double> strays;
    std::thread reader([&] {
        do {
            const double offset = RunLoop::main().now().timeIntervalSince(set);
            if (offset != 0.0 && offset != 1.0 && strays.size() < 10) {
                strays.push_back(offset);
            }
            ++reads;
        } while (!done);
    });
    while (reads == 0) {
        std::this_thread::yield();
    }
    for (int round = 0; round < 20000; ++round) {
        loop->advance(1);
        loop->setNow(set);
    }
    done = true;
    reader.join();
    EXPECT_TRUE(strays.empty()) << "first stray: " << strays.front();
    EXPECT_DOUBLE_EQ(loop->uptime(), 20000);
}

TEST_F(VirtualRunLoopTest, SleepingMachineMovesTheWallClockButNotTheTimers) {
    const Date start = loop->now();
    Timer t = loop->after(10, [&] { fired.push_back("t"); });
    loop->sleepMachine(7200);
    loop->drain();
    EXPECT_TRUE(fired.empty());
    EXPECT_DOUBLE_EQ(loop->now().timeIntervalSince(start), 7200);
    loop->advance(10);
    EXPECT_EQ(fired.size(), 1u);
    EXPECT_DOUBLE_EQ(loop->now().timeIntervalSince(start), 7210);
}

TEST_F(VirtualRunLoopTest, SerialQueueTasksRunInOrderAndPostBack) {
    auto queue = loop->makeSerialQueue("orvel.test");
    for (int i = 0; i < 3; ++i) {
        queue->post([&, i] {
            fired.push_back("task" + std::to_string(i));
            loop->async([&, i] { fired.push_back("result" + std::to_string(i)); });
        });
    }
    loop->drain();
    EXPECT_EQ(fired, (std::vector<std::string>{"task0", "task1", "task2", "result0", "result1",
                                               "result2"}));
}

TEST_F(VirtualRunLoopTest, TimerHandlesOutlivingTheirLoopAreHarmless) {
    Timer survivor = loop->after(1, [] {});
    RunLoop::install(nullptr);
    loop = nullptr;
    EXPECT_FALSE(survivor.isValid());
    survivor.cancel();
}

TEST_F(VirtualRunLoopTest, CountsTimerFirings) {
    Timer t = loop->every(5, [] {});
    loop->advance(60);
    EXPECT_EQ(loop->timersFired(), 12u);
}

}  // namespace
}  // namespace orvel
