#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/OrvelController.h"
#include "platform/DiskSpinKeeper.h"
#include "platform/sim/SimPlatform.h"
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

// The file systems' entries as a listing gives them: on the disk's file system (or another),
// with every block on it unless told.
constexpr std::uint64_t kDataDevice = 0x801;
constexpr std::uint32_t kUser = SimUncachedReader::kUser;

DirectoryEntry file(std::string name, std::uint64_t size, std::uint32_t owner = kUser,
                    std::uint64_t allocated = ~0ull) {
    return {std::move(name), true,  false,      size, allocated == ~0ull ? size : allocated,
            owner,           0644u, kDataDevice};
}

DirectoryEntry folder(std::string name, std::uint32_t owner, std::uint32_t mode,
                      std::uint64_t device = kDataDevice) {
    return {std::move(name), false, true, 0, 4096, owner, mode, device};
}

TEST_F(DiskSleepTest, ADiskWhoseDeviceCannotBeOpenedIsReadThroughTheLargestFileNobodyElsePutThere) {
    auto& reader = sim().uncachedReader();
    reader.failReads("/dev/sda", "opening /dev/sda failed: Permission denied");
    sim().localDisks().setDisks({{"sda", "/dev/sda", true, false, {"/data"}}},
                                {"/", "/data", "/data/other", "/proc"});
    reader.setEntry("/data", folder("data", 0, 0755));
    struct Case {
        const char* what;
        std::vector<DirectoryEntry> top;  // /data's entries beside films/ with long.mkv (3 GiB)
        std::string read;
    };
    const Case cases[] = {
        {"the user's largest", {file("notes.txt", 900)}, "/data/films/long.mkv"},
        {"hidden ones are bookkeeping", {file(".cache", 8ull << 30)}, "/data/films/long.mkv"},
        {"another user's larger file",
         {file("theirs.iso", 8ull << 30, 1001)},
         "/data/films/long.mkv"},
        {"a larger sparse file, mostly holes",
         {file("huge.img", 1ull << 40, kUser, 4096)},
         "/data/films/long.mkv"},
        {"a folder anyone may write to", {folder("tmp", 0, 01777)}, "/data/films/long.mkv"},
        {"another file system mounted inside",
         {folder("other", kUser, 0755)},
         "/data/films/long.mkv"},
        {"a folder of another file system",
         {folder("snapshot", kUser, 0755, 0x802)},
         "/data/films/long.mkv"},
        {"root's file where only root may write", {folder("srv", 0, 0755)}, "/data/srv/base.img"},
        {"root's file where others may write", {folder("shared", 0, 0775)}, "/data/films/long.mkv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<DirectoryEntry> top = c.top;
        top.push_back(folder("films", kUser, 0755));
        reader.setDirectory("/data", top);
        reader.setDirectory("/data/films",
                            {file("long.mkv", 3ull << 30),
                             {"link.mkv", false, false, 0, 0, kUser, 0777, kDataDevice}});
        reader.setDirectory("/data/tmp", {file("mine.img", 8ull << 30)});
        reader.setDirectory("/data/other", {file("huge.img", 40ull << 30)});
        reader.setDirectory("/data/snapshot", {file("copy.img", 40ull << 30)});
        reader.setDirectory("/data/srv", {file("base.img", 5ull << 30, 0)});
        reader.setDirectory("/data/shared", {file("base.img", 5ull << 30, 0)});
        setDiskSleep(true);
        ASSERT_TRUE(controller().start());
        runIntervals(3);
        EXPECT_EQ(takeReads(), (std::map<std::string, int>{{c.read, 4}}));
        const auto reads = reader.reads();
        EXPECT_EQ(reads.back().trusted, (TrustedFile{kDataDevice, kUser}))
            << "a file is read only as long as it is still what it was chosen as";
        controller().stop(true);  // the next session chooses afresh
        loop().drain();
    }
}

TEST_F(DiskSleepTest, OrvelsOwnFileIsReadWhereTheCacheFolderIsOnTheDiskAndNoDiskIsLeftUnsaid) {
    auto& reader = sim().uncachedReader();
    reader.failReads("/dev/sda", "opening /dev/sda failed: Permission denied");
    reader.failReads("/dev/sdb", "opening /dev/sdb failed: Permission denied");
    sim().localDisks().setDisks(
        {{"sda", "/dev/sda", true, false, {"/home"}}, {"sdb", "/dev/sdb", true, false, {"/srv"}}},
        {"/", "/home", "/srv"});
    reader.setEntry("/home", folder("home", 0, 0755));
    reader.setEntry("/srv", folder("srv", 0, 0755));
    reader.setDirectory("/home", {file("big.img", 8ull << 30)});
    reader.setDirectory("/srv", {file("theirs.img", 8ull << 30, 1001), folder("tmp", 0, 01777)});
    reader.setDirectory("/srv/tmp", {file("planted.img", 1ull << 40, 1001, 0)});
    setDiskSleep(true);
    ASSERT_TRUE(controller().start());
    runIntervals(2);
    const std::string own = std::string(SimPlatform::kCacheFolder) + "/disk-keep-alive";
    EXPECT_EQ(reader.keptFiles(), std::vector<std::string>{own}) << "written once";
    EXPECT_EQ(takeReads(), (std::map<std::string, int>{{own, 3}}))
        << "nothing of another user's is read on sdb";
    EXPECT_EQ(controller().unkeptDisks(), std::vector<std::string>{"sdb"});
    const auto lines = sim().log().messages("disks");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("sdb may spin down"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("no file in /srv is Orvel's own or this user's (uid 1000) and safe "
                            "to read"),
              std::string::npos)
        << lines[0];

    // A file of the user's appears there: it is kept again, and said to be.
    reader.setDirectory("/srv", {file("backup.tar", 2ull << 30)});
    runIntervals(DiskSpinKeeper::kRetryRounds + 1);
    EXPECT_GT(takeReads()["/srv/backup.tar"], 0);
    EXPECT_EQ(controller().unkeptDisks(), std::vector<std::string>{});
    reader.failReads("/srv/backup.tar", "reading /srv/backup.tar failed: Input/output error");
    runIntervals(1);
    EXPECT_EQ(controller().unkeptDisks(), std::vector<std::string>{"sdb"});
    controller().stop(true);
    loop().drain();
    EXPECT_EQ(controller().unkeptDisks(), std::vector<std::string>{}) << "nothing is held";
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
