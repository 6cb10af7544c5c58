#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/OrvelController.h"
#include "platform/DiskSpinKeeper.h"
#include "support/SessionTest.h"

namespace orvel {
namespace {

class DiskSleepTest : public test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        sim().localDisks().setDisks({
            {"nvme0n1", "/dev/nvme0n1", false, false, {"/"}},
            {"sda", "/dev/sda", true, false, {"/data"}},
            {"sdb", "/dev/sdb", true, false, {}},
            {"sdc", "/dev/sdc", true, true, {"/media/card"}},  // a card reader
        });
    }

    void setDiskSleep(bool on) { controller().setOption(&SleepOptions::preventDiskSleep, on); }

    // Reads per target since the last call.
    std::map<std::string, int> takeReads() {
        const auto all = sim().uncachedReader().reads();
        std::map<std::string, int> counts;
        for (std::size_t i = seen_; i < all.size(); ++i) {
            ++counts[all[i].target];
        }
        seen_ = all.size();
        return counts;
    }

    // Advances the virtual clock by whole intervals, one at a time.
    void runIntervals(int count) {
        for (int i = 0; i < count; ++i) {
            loop().advance(DiskSpinKeeper::kIntervalSeconds);
        }
    }

  private:
    std::size_t seen_ = 0;
};

TEST_F(DiskSleepTest, ASessionThatPreventsDiskSleepReadsEverySpinningDiskEachIntervalUntilItEnds) {
    setDiskSleep(true);
    ASSERT_TRUE(controller().start());
    loop().drain();
    EXPECT_EQ(takeReads(), (std::map<std::string, int>{{"/dev/sda", 1}, {"/dev/sdb", 1}}))
        << "read at once: a disk may be about to spin down as the session starts";
    runIntervals(10);
    EXPECT_EQ(takeReads(), (std::map<std::string, int>{{"/dev/sda", 10}, {"/dev/sdb", 10}}))
        << "the SSD and the card reader are never read";

    controller().stop(true);
    runIntervals(10);
    EXPECT_EQ(takeReads(), (std::map<std::string, int>{}));
    EXPECT_TRUE(sim().powerAssertions().heldTypes().empty());
}

TEST_F(DiskSleepTest, DisksAreReadOnlyWhileTheOptionIsOnInARunningSession) {
    ASSERT_TRUE(controller().start());
    runIntervals(5);
    EXPECT_EQ(takeReads(), (std::map<std::string, int>{})) << "the option is off";

    setDiskSleep(true);  // switched on in the panel while the session runs
    runIntervals(5);
    EXPECT_EQ(takeReads(), (std::map<std::string, int>{{"/dev/sda", 6}, {"/dev/sdb", 6}}));

    setDiskSleep(false);
    runIntervals(5);
    EXPECT_EQ(takeReads(), (std::map<std::string, int>{}));

    controller().stop(true);
    setDiskSleep(true);  // chosen for the next session: nothing runs now
    runIntervals(5);
    EXPECT_EQ(takeReads(), (std::map<std::string, int>{}));
}

TEST_F(DiskSleepTest, ADiskWhoseDeviceCannotBeOpenedIsReadThroughItsLargestFile) {
    auto& reader = sim().uncachedReader();
    reader.failReads("/dev/sda", "opening /dev/sda failed: Permission denied");
    sim().localDisks().setDisks({{"sda", "/dev/sda", true, false, {"/data"}}},
                                {"/", "/data", "/data/other", "/proc"});
    reader.setDirectory("/data", {{".cache", false, false, 8ull << 30},
                                  {"notes.txt", true, false, 900},
                                  {"films", false, true, 0},
                                  {"other", false, true, 0}});
    reader.setDirectory("/data/films",
                        {{"long.mkv", true, false, 3ull << 30}, {"link.mkv", false, false, 0}});
    // Another file system mounted inside: its disk is not this one.
    reader.setDirectory("/data/other", {{"huge.img", true, false, 40ull << 30}});
    setDiskSleep(true);
    ASSERT_TRUE(controller().start());
    runIntervals(3);
    EXPECT_EQ(takeReads(), (std::map<std::string, int>{{"/data/films/long.mkv", 4}}));
}

TEST_F(DiskSleepTest, ADiskThatCannotBeReadAtAllIsNamedOnceAndTriedAgainLater) {
    auto& reader = sim().uncachedReader();
    reader.failReads("/dev/sdb", "opening /dev/sdb failed: Permission denied");
    setDiskSleep(true);
    ASSERT_TRUE(controller().start());
    runIntervals(2 * DiskSpinKeeper::kRetryRounds);
    const auto lines = sim().log().messages("disks");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("sdb may spin down"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("Permission denied"), std::string::npos) << lines[0];
    EXPECT_EQ(takeReads()["/dev/sda"], 2 * DiskSpinKeeper::kRetryRounds + 1)
        << "the other disk is kept as before";

    reader.failReads("/dev/sdb", "");  // the user was given access
    runIntervals(DiskSpinKeeper::kRetryRounds + 1);
    EXPECT_GT(takeReads()["/dev/sdb"], 0);
    EXPECT_EQ(sim().log().messages("disks").size(), 2u) << "its return is said once too";
}

TEST_F(DiskSleepTest, ADiskListingThatFailsIsSaidOnceAndTheSessionHolds) {
    sim().localDisks().failListing("listing /sys/block failed: Permission denied");
    setDiskSleep(true);
    ASSERT_TRUE(controller().start());
    runIntervals(5);
    EXPECT_TRUE(controller().isActive());
    EXPECT_EQ(takeReads(), (std::map<std::string, int>{}));
    EXPECT_EQ(sim().log().messages("disks").size(), 1u);
}

}  // namespace
}  // namespace orvel
