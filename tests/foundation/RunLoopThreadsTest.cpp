#include "foundation/RunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "foundation/PollRunLoop.h"
#include "foundation/Published.h"
#include "foundation/Registry.h"
#include "foundation/VirtualRunLoop.h"

namespace orvel {
namespace {

// A worker spins until `done` holds; a working system gets there at once, the limit only keeps
// a broken one from hanging the suite.
bool spinUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

TEST(RunLoopThreadsTest, BlocksPostedWhileTheLoopIsTornDownAreDroppedNotRun) {
    struct Case {
        const char* loop;
        std::function<std::unique_ptr<RunLoop>()> make;
    };
    const Case cases[] = {
        {"virtual", [] { return std::make_unique<VirtualRunLoop>(); }},
        {"poll", [] { return std::make_unique<PollRunLoop>(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.loop);
        RunLoop::install(c.make());
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
        RunLoop::install(nullptr);  // destroys the loop with the worker's blocks in it
        const int postedAtTeardown = posted;
        EXPECT_TRUE(spinUntil([&] { return posted > postedAtTeardown + 1000; }))
            << "posting goes on after the loop has gone";
        stop = true;
        worker.join();
        EXPECT_EQ(ran, 0);
        EXPECT_EQ(token.use_count(), 1) << "every block was destroyed";
    }
}

TEST(RunLoopThreadsTest, OtherThreadsReadTheClocksOfTheInstalledLoopAndTheLastOnesAfterIt) {
    auto owned = std::make_unique<VirtualRunLoop>();
    VirtualRunLoop& loop = *owned;
    RunLoop::install(std::move(owned));
    loop.advance(90);
    const Date expected = loop.now();
    auto readOnAnotherThread = [] {
        std::pair<Date, double> read;
        std::thread([&] { read = {RunLoop::main().now(), RunLoop::main().uptime()}; }).join();
        return read;
    };
    EXPECT_EQ(readOnAnotherThread(), std::make_pair(expected, 90.0));
    RunLoop::install(nullptr);
    EXPECT_EQ(readOnAnotherThread(), std::make_pair(expected, 90.0))
        << "the clocks stay where the loop left them";
    EXPECT_TRUE(RunLoop::isMainThread());
    bool workerIsMain = true;
    std::thread([&] { workerIsMain = RunLoop::isMainThread(); }).join();
    EXPECT_FALSE(workerIsMain);
}

// Debug builds stop a main-thread-only operation called on another thread.
class MainThreadChecksTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!kChecksMainThread) {
            GTEST_SKIP() << "a release build does not check threads";
        }
        // The check aborts from a worker thread: death tests must not just fork this process.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        auto owned = std::make_unique<VirtualRunLoop>();
        loop = owned.get();
        RunLoop::install(std::move(owned));
    }
    void TearDown() override {
        Registry::reset();
        RunLoop::install(nullptr);
    }

    VirtualRunLoop* loop = nullptr;
};

struct Counter : ObservableObject {
    Published<int> value{*this, 0};
};

void onAnotherThread(const std::function<void()>& fn) {
    std::thread(fn).join();
}

TEST_F(MainThreadChecksTest, MainThreadOnlyOperationsAbortOnAnotherThread) {
    Counter counter;
    struct Case {
        std::string operation;
        std::function<void()> call;
    };
    const Case cases[] = {
        {"RunLoop::after", [] { Timer t = RunLoop::main().after(1, [] {}); }},
        {"RunLoop::every", [] { Timer t = RunLoop::main().every(1, [] {}); }},
        {"RunLoop::watchFd",
         [] { FdWatch w = RunLoop::main().watchFd(0, kFdReadable, [](unsigned) {}); }},
        {"RunLoop::runModal", [] { RunLoop::main().runModal([] { return true; }); }},
        {"turning the run loop", [this] { loop->drain(); }},
        {"VirtualRunLoop::advance", [this] { loop->advance(1); }},
        {"Published assignment", [&] { counter.value = 1; }},
        {"Published::subscribe", [&] { Subscription s = counter.value.subscribe([](int) {}); }},
        {"shared-instance access", [] { Registry::existing<Counter>(); }},
        {"shared-instance reset", [] { Registry::reset(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation);
        EXPECT_DEATH(onAnotherThread(c.call), c.operation + " is main thread only");
    }
    // The same operations on the main thread go through.
    counter.value = 2;
    EXPECT_EQ(counter.value(), 2);
}

}  // namespace
}  // namespace orvel
