#include "foundation/RunLoop.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvel {
namespace {

// A loop that waits in another event system sees the watched descriptors through the base's
// hooks and hands events back one descriptor at a time.
class MirroringLoop final : public RunLoop {
  public:
    Date now() const override { return Date{}; }
    double uptime() const override { return 0; }
    void async(std::function<void()> fn) override { enqueue(std::move(fn)); }
    void run() override {}
    void quit() override {}
    bool runModal(const std::function<bool()>&) override { return false; }

    using RunLoop::dispatchFd;
    using RunLoop::WatchedFd;
    using RunLoop::watchedFds;
    int changes = 0;

  protected:
    void schedulingChanged() override { ++changes; }
};

TEST(RunLoopHooksTest, WatchedDescriptorsAreListedOnceWithTheirEventsMerged) {
    MirroringLoop loop;
    FdWatch reading = loop.watchFd(7, kFdReadable, [](unsigned) {});
    FdWatch writing = loop.watchFd(7, kFdWritable, [](unsigned) {});
    FdWatch other = loop.watchFd(9, kFdReadable, [](unsigned) {});
    EXPECT_EQ(loop.watchedFds(), (std::vector<MirroringLoop::WatchedFd>{
                                     {7, kFdReadable | kFdWritable}, {9, kFdReadable}}));
    const int before = loop.changes;
    writing.setEvents(0);
    other.cancel();
    EXPECT_EQ(loop.changes, before + 2) << "each change is told, for the mirror to follow";
    EXPECT_EQ(loop.watchedFds(), (std::vector<MirroringLoop::WatchedFd>{{7, kFdReadable}}));
}

TEST(RunLoopHooksTest, ADispatchReachesOnlyTheWatchesThatAskedAndHangUpsReachAll) {
    struct Case {
        unsigned events;
        std::vector<unsigned> expected;  // what the reading and the writing watch receive
    };
    const Case cases[] = {
        {kFdReadable, {kFdReadable, 0}},
        {kFdWritable, {0, kFdWritable}},
        {kFdReadable | kFdWritable, {kFdReadable, kFdWritable}},
        {kFdHangUp, {kFdHangUp, kFdHangUp}},
        {kFdReadable | kFdHangUp, {kFdReadable | kFdHangUp, kFdHangUp}},
    };
    for (const Case& c : cases) {
        MirroringLoop loop;
        std::vector<unsigned> received(2, 0);
        FdWatch reading =
            loop.watchFd(4, kFdReadable, [&](unsigned events) { received[0] |= events; });
        FdWatch writing =
            loop.watchFd(4, kFdWritable, [&](unsigned events) { received[1] |= events; });
        FdWatch elsewhere = loop.watchFd(5, kFdReadable, [&](unsigned) { FAIL(); });
        loop.dispatchFd(4, c.events);
        EXPECT_EQ(received, c.expected) << c.events;
    }
}

}  // namespace
}  // namespace orvel
