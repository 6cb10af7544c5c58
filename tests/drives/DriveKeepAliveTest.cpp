#include "drives/DriveKeepAlive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "foundation/Data.h"
#include "foundation/FileIO.h"
#include "foundation/PollRunLoop.h"
#include "foundation/Registry.h"
#include "support/OrvelTest.h"

namespace orvel {
namespace {

using Drive = DriveKeepAlive::Drive;
using Lifecycle = DriveKeepAlive::Lifecycle;

VolumeInfo disk(std::string uuid, std::string name, std::string path) {
    return VolumeInfo{std::move(uuid), std::move(name), true, true, std::move(path), "/dev/sdb1"};
}

VolumeInfo share(std::string path, std::string source, std::optional<std::string> uuid = {}) {
    return VolumeInfo{std::move(uuid), std::nullopt,     false, true,
                      std::move(path), std::move(source)};
}

class DriveKeepAliveTest : public test::OrvelTest {
  protected:
    // The service as the application creates it, with its first scan merged.
    DriveKeepAlive& start() {
        DriveKeepAlive& keepAlive = services().driveKeepAlive();
        loop().drain();
        return keepAlive;
    }

    void storeList(const std::string& json) {
        sim().userDefaults().setData(DriveKeepAlive::kListKey, dataFromString(json));
    }

    Json storedList() {
        auto data = sim().userDefaults().dataForKey(DriveKeepAlive::kListKey);
        if (!data) {
            return nullptr;
        }
        auto json = parseJson(stringFromData(*data));
        return json ? *json : Json(nullptr);
    }

    const Drive* find(const std::string& id) {
        for (const Drive& d : services().driveKeepAlive().drives()) {
            if (d.id == id) {
                return &d;
            }
        }
        return nullptr;
    }

    // Switches a listed drive on (or edits it) the way the Drives tab does.
    void edit(const std::string& id, const std::function<void(Drive&)>& change) {
        Drive copy = *find(id);
        change(copy);
        services().driveKeepAlive().update(copy);
    }

    std::vector<std::string> activityTitles() {
        loop().drain();
        std::vector<std::string> titles;
        for (const ActivityEntry& e : services().activityLog().entries()) {
            titles.insert(titles.begin(), e.title + " | " + e.detail);
        }
        return titles;
    }

    std::vector<std::string> readTargets() {
        std::vector<std::string> targets;
        for (const auto& r : sim().uncachedReader().reads()) {
            targets.push_back(r.target);
        }
        return targets;
    }

    int countLines(const std::string& needle) {
        int n = 0;
        for (const LogRecord& r : sim().log().records()) {
            n += r.message.find(needle) != std::string::npos ? 1 : 0;
        }
        return n;
    }
};

TEST_F(DriveKeepAliveTest, LifecyclesHaveTheirStoredNamesAndLabelsInOrder) {
    const auto cases = allCases<Lifecycle>();
    ASSERT_EQ(cases.size(), 2u);
    EXPECT_EQ(rawValue(cases[0]), "always");
    EXPECT_EQ(label(cases[0]), "Always");
    EXPECT_EQ(rawValue(cases[1]), "whileOrvelSessionActive");
    EXPECT_EQ(label(cases[1]), "Only while Orvel is on");
    EXPECT_EQ(fromRaw<Lifecycle>("Always"), std::nullopt);
}

TEST_F(DriveKeepAliveTest, SavesTheListInItsStoredFormat) {
    sim().volumes().setVolumes(
        {disk("UUID-1", "Backup", "/media/bob/Backup"), share("/mnt/music", "//nas.local/music")});
    DriveKeepAlive& keepAlive = start();
    loop().setNow(Date{750000000.5});
    edit("UUID-1", [](Drive& d) {
        d.enabled = true;
        d.lifecycle = Lifecycle::always;
        d.intervalOverride = 600;
        d.lastRead = Date{749999000.25};
    });
    keepAlive.globalIntervalSeconds = 240;
    loop().drain();  // the read started by switching the drive on

    auto golden = readFile(std::string(ORVEL_TEST_DATA) + "/drives/drives-list.json");
    ASSERT_TRUE(golden.ok());
    auto expected = parseJson(stringFromData(*golden));
    ASSERT_TRUE(expected.ok());
    EXPECT_EQ(storedList().dump(2), expected->dump(2));
    EXPECT_EQ(sim().userDefaults().integerForKey(DriveKeepAlive::kIntervalKey), 240);
}

TEST_F(DriveKeepAliveTest, LoadDecodesEachDriveStrictlyAndKeepsTheReadableOnes) {
    const std::string good =
        R"({"id":"A","name":"A","path":"/media/a","isNetwork":false,"enabled":true,)"
        R"("lifecycle":"always","offline":false,"extra":1})";
    struct Case {
        const char* what;
        std::string element;
        bool decodes;
    };
    const Case cases[] = {
        {"optionals absent, unknown key", good, true},
        {"all optionals",
         R"({"id":"B","name":"B","path":"/b","isNetwork":true,"remountURL":"smb://n/b",)"
         R"("enabled":false,"lifecycle":"whileOrvelSessionActive","intervalOverride":60,)"
         R"("lastRead":700000000.5,"offline":true})",
         true},
        {"offline missing",
         R"({"id":"C","name":"C","path":"/c","isNetwork":false,"enabled":true,)"
         R"("lifecycle":"always"})",
         false},
        {"enabled as text",
         R"({"id":"D","name":"D","path":"/d","isNetwork":false,"enabled":"yes",)"
         R"("lifecycle":"always","offline":false})",
         false},
        {"unknown lifecycle",
         R"({"id":"E","name":"E","path":"/e","isNetwork":false,"enabled":true,)"
         R"("lifecycle":"Always","offline":false})",
         false},
        {"fractional interval",
         R"({"id":"F","name":"F","path":"/f","isNetwork":false,"enabled":true,)"
         R"("lifecycle":"always","intervalOverride":1.5,"offline":false})",
         false},
        {"not an object", R"("G")", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        releaseServices();
        sim().userDefaults().replacePersistentDomain({});
        sim().log().clear();
        const std::string stored = "[" + c.element + "," + good + "]";
        storeList(stored);
        DriveKeepAlive& keepAlive = services().driveKeepAlive();
        EXPECT_EQ(keepAlive.drives().size(), c.decodes ? 2u : 1u);
        auto copy = sim().userDefaults().dataForKey(DriveKeepAlive::kUnreadableListKey);
        if (c.decodes) {
            EXPECT_FALSE(copy.has_value());
            EXPECT_EQ(countLines("unreadable"), 0);
        } else {
            ASSERT_TRUE(copy.has_value());
            EXPECT_EQ(stringFromData(*copy), stored);
            EXPECT_EQ(countLines("Skipped 1 unreadable"), 1);
        }
        EXPECT_EQ(keepAlive.drives().back().id, "A");
    }
}

TEST_F(DriveKeepAliveTest, AListThatIsNotJsonIsKeptAsideAndTheDrivesStartEmpty) {
    storeList("not json");
    DriveKeepAlive& keepAlive = services().driveKeepAlive();
    EXPECT_TRUE(keepAlive.drives().empty());
    EXPECT_EQ(stringFromData(*sim().userDefaults().dataForKey(DriveKeepAlive::kUnreadableListKey)),
              "not json");
    loop().drain();
    EXPECT_EQ(storedList(), Json::array());
}

TEST_F(DriveKeepAliveTest, OnlyAPositiveStoredIntervalIsTakenAndSavedBackAtOnce) {
    struct Case {
        std::optional<std::int64_t> stored;
        std::int64_t expected;
        bool savedDuringLoad;
    };
    const Case cases[] = {
        {std::nullopt, 180, false}, {0, 180, false}, {-30, 180, false}, {240, 240, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.value_or(-999));
        releaseServices();
        sim().userDefaults().replacePersistentDomain({});
        if (c.stored) {
            sim().userDefaults().setInteger(DriveKeepAlive::kIntervalKey, *c.stored);
        }
        const auto writes = sim().userDefaults().writeCount();
        DriveKeepAlive& keepAlive = services().driveKeepAlive();  // load, before the first scan
        EXPECT_EQ(keepAlive.globalIntervalSeconds(), c.expected);
        EXPECT_EQ(sim().userDefaults().writeCount() > writes, c.savedDuringLoad);
        EXPECT_EQ(sim().userDefaults().dataForKey(DriveKeepAlive::kListKey).has_value(),
                  c.savedDuringLoad);
    }
}

TEST_F(DriveKeepAliveTest, AnEncodingFailureKeepsTheStoredList) {
    sim().volumes().setVolumes({disk("UUID-1", "Backup", "/media/bob/Backup")});
    start();
    const Json before = storedList();
    ASSERT_EQ(before.size(), 1u);
    edit("UUID-1", [](Drive& d) { d.lastRead = Date{std::nan("")}; });
    EXPECT_EQ(storedList(), before);
    EXPECT_EQ(countLines("could not be encoded"), 1);
    EXPECT_EQ(sim().userDefaults().integerForKey(DriveKeepAlive::kIntervalKey), 180);
}

TEST_F(DriveKeepAliveTest, ScansMergeInOrderAddingNewDrivesSwitchedOffAtTheEnd) {
    sim().volumes().setVolumes({disk("U1", "One", "/media/one"), disk("U2", "Two", "/media/two"),
                                share("/mnt/music", "//nas/music"),
                                share("/mnt/films", "//nas/films")});
    DriveKeepAlive& keepAlive = start();
    edit("U2", [](Drive& d) {
        d.enabled = true;
        d.intervalOverride = 900;
    });
    edit("/mnt/music", [](Drive& d) { d.enabled = true; });
    loop().drain();

    // One is unplugged, Two renamed and moved, the shares drop, a new disk arrives.
    sim().volumes().setVolumes(
        {disk("U3", "Three", "/media/three"), disk("U2", "Renamed", "/media/renamed")});
    keepAlive.rescan();
    loop().drain();

    struct Expected {
        std::string id;
        std::string name;
        std::string path;
        bool enabled;
        bool offline;
    };
    const std::vector<Expected> expected = {
        {"U2", "Renamed", "/media/renamed", true, false},
        {"/mnt/music", "music", "/mnt/music", true, true},  // an enabled share stays, offline
        {"U3", "Three", "/media/three", false, false},
    };
    ASSERT_EQ(keepAlive.drives().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Drive& d = keepAlive.drives()[i];
        EXPECT_EQ(d.id, expected[i].id);
        EXPECT_EQ(d.name, expected[i].name);
        EXPECT_EQ(d.path, expected[i].path);
        EXPECT_EQ(d.enabled, expected[i].enabled);
        EXPECT_EQ(d.offline, expected[i].offline);
    }
    EXPECT_EQ(keepAlive.drives()[0].intervalOverride, 900);
    EXPECT_EQ(keepAlive.drives()[2].lifecycle, Lifecycle::whileOrvelSessionActive);
    EXPECT_EQ(keepAlive.drives()[1].remountURL, "smb://nas/music");
    EXPECT_EQ(storedList().size(), 3u);
}

TEST_F(DriveKeepAliveTest, AScanThatFindsNothingKeepsOnlyEnabledSharesOffline) {
    sim().volumes().setVolumes(
        {disk("U1", "One", "/media/one"), share("/mnt/music", "//nas/music")});
    DriveKeepAlive& keepAlive = start();
    edit("U1", [](Drive& d) { d.enabled = true; });
    edit("/mnt/music", [](Drive& d) { d.enabled = true; });
    loop().drain();
    sim().volumes().setVolumes({});
    const auto writes = sim().userDefaults().writeCount();
    keepAlive.rescan();
    loop().drain();
    ASSERT_EQ(keepAlive.drives().size(), 1u);
    EXPECT_EQ(keepAlive.drives()[0].id, "/mnt/music");
    EXPECT_TRUE(keepAlive.drives()[0].offline);
    EXPECT_GT(sim().userDefaults().writeCount(), writes);
    EXPECT_EQ(storedList().size(), 1u);
}

TEST_F(DriveKeepAliveTest, AFailedEnumerationChangesAndSavesNothing) {
    sim().volumes().setVolumes({disk("U1", "One", "/media/one")});
    DriveKeepAlive& keepAlive = start();
    sim().volumes().setEnumerationFails(true);
    const auto writes = sim().userDefaults().writeCount();
    keepAlive.rescan();
    loop().drain();
    ASSERT_EQ(keepAlive.drives().size(), 1u);
    EXPECT_EQ(sim().userDefaults().writeCount(), writes);
    EXPECT_EQ(countLines("volume scan failed"), 1);
}

TEST_F(DriveKeepAliveTest, ScanTakesIdsNamesAndAddressesFromTheVolumes) {
    struct Case {
        const char* what;
        VolumeInfo volume;
        bool listed;
        std::string id;
        std::string name;
        std::optional<std::string> remountURL;
    };
    const Case cases[] = {
        {"uuid and name", disk("U1", "Backup", "/media/backup"), true, "U1", "Backup", {}},
        {"no uuid, no name",
         VolumeInfo{{}, {}, true, true, "/media/stick", "/dev/sdc1"},
         true,
         "/media/stick",
         "stick",
         {}},
        {"root without name", VolumeInfo{{}, {}, true, true, "/", "/dev/sda2"}, true, "/", "/", {}},
        {"unknown locality counts as local",
         VolumeInfo{{}, {}, {}, true, "/media/x", "//a/b"},
         true,
         "/media/x",
         "x",
         {}},
        {"smb share", share("/mnt/music", "//bob@nas/music"), true, "/mnt/music", "music",
         "smb://bob@nas/music"},
        {"nfs share", share("/mnt/nfs", "nas:/export"), true, "/mnt/nfs", "nfs", {}},
        {"not browsable", VolumeInfo{{}, {}, true, false, "/boot", "/dev/sda1"}, false, "", "", {}},
        {"browsable unknown", VolumeInfo{{}, {}, true, {}, "/srv", "/dev/sda3"}, false, "", "", {}},
        {"name not UTF-8",
         VolumeInfo{"U9", "Caf\xE9", true, true, "/media/cafe", "/dev/sdd1"},
         true,
         "U9",
         "Caf\xEF\xBF\xBD",
         {}},
        {"path not UTF-8",
         VolumeInfo{"U8", "Bad", true, true, "/media/\xFF", "/dev/sde1"},
         false,
         "",
         "",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim().volumes().setVolumes({c.volume});
        auto found = DriveKeepAlive::scanVolumes(sim().volumes());
        ASSERT_TRUE(found.ok());
        ASSERT_EQ(found->size(), c.listed ? 1u : 0u);
        if (c.listed) {
            EXPECT_EQ(found->front().id, c.id);
            EXPECT_EQ(found->front().name, c.name);
            EXPECT_EQ(found->front().path, c.volume.path);
            EXPECT_EQ(found->front().isNetwork, c.volume.local == false);
            EXPECT_EQ(found->front().remountURL, c.remountURL);
        }
    }
}

TEST_F(DriveKeepAliveTest, UpdateOfAnUnknownIdChangesAndSavesNothing) {
    sim().volumes().setVolumes({disk("U1", "One", "/media/one")});
    DriveKeepAlive& keepAlive = start();
    const auto writes = sim().userDefaults().writeCount();
    Drive stranger = keepAlive.drives()[0];
    stranger.id = "U2";
    stranger.enabled = true;
    keepAlive.update(stranger);
    loop().drain();
    EXPECT_EQ(sim().userDefaults().writeCount(), writes);
    EXPECT_FALSE(keepAlive.drives()[0].enabled);
    EXPECT_TRUE(sim().uncachedReader().reads().empty());
}

TEST_F(DriveKeepAliveTest, SwitchingOnTheFirstDriveTurnsPreventDiskSleepOffOnce) {
    struct Case {
        const char* what;
        bool diskSleepOption;
        int drivesSwitchedOn;
        int expectedLogs;
    };
    const Case cases[] = {{"first drive, option on", true, 1, 1},
                          {"second drive too", true, 2, 1},
                          {"option already off", false, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        releaseServices();
        sim().userDefaults().replacePersistentDomain({});
        sim().volumes().setVolumes({disk("U1", "One", "/media/one"), disk("U2", "Two", "/t")});
        OrvelController& controller = services().controller();
        SleepOptions options = controller.options();
        options.preventDiskSleep = c.diskSleepOption;
        controller.options = options;
        start();
        edit("U1", [](Drive& d) { d.enabled = true; });
        if (c.drivesSwitchedOn == 2) {
            edit("U2", [](Drive& d) { d.enabled = true; });
        }
        int logs = 0;
        for (const std::string& t : activityTitles()) {
            logs += t == "Prevent Disk Sleep turned off | Per-drive keep-alive is replacing it";
        }
        EXPECT_EQ(logs, c.expectedLogs);
        EXPECT_FALSE(services().controller().options().preventDiskSleep);
    }
}

TEST_F(DriveKeepAliveTest, SwitchingADriveOnReadsItAtOnceButOtherEditsDoNot) {
    sim().volumes().setVolumes({disk("U1", "One", "/media/one")});
    sim().uncachedReader().setDirectory("/media/one", {{"data.bin", true}});
    start();
    edit("U1", [](Drive& d) { d.enabled = true; });
    loop().drain();
    EXPECT_EQ(readTargets(), std::vector<std::string>{"/media/one/data.bin"});
    edit("U1", [](Drive& d) {
        d.lifecycle = Lifecycle::always;
        d.intervalOverride = 30;
    });
    loop().drain();
    EXPECT_EQ(readTargets().size(), 1u);
    EXPECT_EQ(activityTitles().size(), 0u);  // an automatic read is not logged
}

TEST_F(DriveKeepAliveTest, TheSchedulerRunsOnlyWhileADriveIsOn) {
    sim().volumes().setVolumes({disk("U1", "One", "/media/one")});
    sim().uncachedReader().setDirectory("/media/one", {{"data.bin", true}});
    start();
    EXPECT_FALSE(loop().nextTimerIn()) << "no drive on: nothing to tick for";
    edit("U1", [](Drive& d) {
        d.enabled = true;
        d.lifecycle = Lifecycle::always;
        d.intervalOverride = 30;
    });
    EXPECT_EQ(loop().nextTimerIn(), DriveKeepAlive::kSchedulerPeriod);
    loop().advance(45);
    EXPECT_EQ(readTargets().size(), 2u) << "read when switched on and again once due";
    edit("U1", [](Drive& d) { d.enabled = false; });
    loop().drain();
    EXPECT_FALSE(loop().nextTimerIn());
}

TEST_F(DriveKeepAliveTest, TicksReadDrivesThatAreDue) {
    // The first tick comes 15 s after creation; lastRead is given as an age at that tick.
    struct Case {
        const char* what;
        bool enabled;
        Lifecycle lifecycle;
        bool session;
        std::optional<std::int64_t> override;
        std::optional<double> age;
        bool read;
    };
    const Case cases[] = {
        {"never read", true, Lifecycle::always, false, {}, {}, true},
        {"exactly the interval", true, Lifecycle::always, false, {}, 180.0, true},
        {"just short of it", true, Lifecycle::always, false, {}, 179.5, false},
        {"override shorter", true, Lifecycle::always, false, 60, 60.0, true},
        {"override longer", true, Lifecycle::always, false, 600, 300.0, false},
        {"switched off", false, Lifecycle::always, false, {}, {}, false},
        {"session-only without a session",
         true,
         Lifecycle::whileOrvelSessionActive,
         false,
         {},
         {},
         false},
        {"session-only with a session",
         true,
         Lifecycle::whileOrvelSessionActive,
         true,
         {},
         {},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        releaseServices();
        sim().userDefaults().replacePersistentDomain({});
        sim().volumes().setVolumes({disk("U1", "One", "/media/one")});
        const Date tickAt = loop().now() + DriveKeepAlive::kSchedulerPeriod;
        Json drive = {{"id", "U1"},           {"name", "One"},
                      {"path", "/media/one"}, {"isNetwork", false},
                      {"enabled", c.enabled}, {"lifecycle", std::string(rawValue(c.lifecycle))},
                      {"offline", false}};
        if (c.override) {
            drive["intervalOverride"] = *c.override;
        }
        if (c.age) {
            drive["lastRead"] = (tickAt - *c.age).secondsSinceReferenceDate;
        }
        storeList(Json::array({drive}).dump());
        const std::size_t before = sim().uncachedReader().reads().size();
        DriveKeepAlive& keepAlive = start();
        if (c.session) {
            keepAlive.sessionHolding();
        }
        loop().advance(DriveKeepAlive::kSchedulerPeriod);
        EXPECT_EQ(sim().uncachedReader().reads().size() - before, c.read ? 1u : 0u);
        if (c.read) {
            EXPECT_EQ(keepAlive.drives()[0].lastRead, tickAt);
            EXPECT_EQ(storedList()[0]["lastRead"], tickAt.secondsSinceReferenceDate);
        }
    }
}

TEST_F(DriveKeepAliveTest, ASessionOnlyDriveIsReadAtTheNextTickAfterASessionStarts) {
    sim().volumes().setVolumes({disk("U1", "One", "/media/one")});
    DriveKeepAlive& keepAlive = start();
    edit("U1", [](Drive& d) { d.enabled = true; });  // read at once, whatever the lifecycle
    loop().advance(600);
    EXPECT_EQ(readTargets().size(), 1u);
    keepAlive.sessionHolding();
    loop().advance(DriveKeepAlive::kSchedulerPeriod);
    EXPECT_EQ(readTargets().size(), 2u);
}

TEST_F(DriveKeepAliveTest, APendingReadIsNotQueuedAgain) {
    sim().volumes().setVolumes({disk("U1", "One", "/media/one")});
    storeList(R"([{"id":"U1","name":"One","path":"/media/one","isNetwork":false,)"
              R"("enabled":true,"lifecycle":"always","offline":false}])");
    DriveKeepAlive& keepAlive = start();
    keepAlive.tick();
    keepAlive.tick();
    loop().drain();
    EXPECT_EQ(readTargets().size(), 1u);
}

TEST_F(DriveKeepAliveTest, ReadsTheFirstRegularFileThatIsNotHiddenElseTheFolder) {
    struct Case {
        const char* what;
        std::optional<std::vector<DirectoryEntry>> entries;
        std::string target;
    };
    const Case cases[] = {
        {"hidden and folders first",
         std::vector<DirectoryEntry>{{".DS_Store", true}, {"Photos", false}, {"a.txt", true}},
         "/media/one/a.txt"},
        {"a link is not a file", std::vector<DirectoryEntry>{{"link", false}, {"b", true}},
         "/media/one/b"},
        {"only hidden names", std::vector<DirectoryEntry>{{".x", true}}, "/media/one"},
        {"empty", std::vector<DirectoryEntry>{}, "/media/one"},
        {"listing fails", std::nullopt, "/media/one"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimUncachedReader reader;
        if (c.entries) {
            reader.setDirectory("/media/one", *c.entries);
        }
        (void)DriveKeepAlive::readOneFile(reader, "/media/one");
        ASSERT_EQ(reader.reads().size(), 1u);
        EXPECT_EQ(reader.reads()[0].target, c.target);
        EXPECT_EQ(reader.reads()[0].length, kUncachedBlockSize);
    }
}

TEST_F(DriveKeepAliveTest, OffsetsAreAlignedBlocksWithinTheFile) {
    struct Case {
        std::uint64_t size;
        std::uint64_t random;
        std::uint64_t offset;
    };
    const Case cases[] = {{0, 7, 0},        {4095, 7, 0},     {4096, 7, 0},
                          {4097, 1, 0},     {8191, 1, 0},     {8192, 1, 4096},
                          {8192, 2, 0},     {12288, 5, 8192}, {1 << 20, 255, 255 * 4096},
                          {1 << 20, 256, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes, random " + std::to_string(c.random));
        EXPECT_EQ(uncachedReadOffset(c.size, c.random), c.offset);
    }
    sim().uncachedReader().setFileSize("/media/one/f", 1 << 20);
    sim().uncachedReader().setRandom(3);
    sim().uncachedReader().setDirectory("/media/one", {{"f", true}});
    (void)DriveKeepAlive::readOneFile(sim().uncachedReader(), "/media/one");
    EXPECT_EQ(sim().uncachedReader().reads().at(0).offset, 3 * 4096u);
}

TEST_F(DriveKeepAliveTest, ManualReadsAreLoggedWithTheirOutcomeAndAlwaysStampedAndSaved) {
    struct Case {
        const char* what;
        std::string failure;
        std::string expected;
    };
    const Case cases[] = {
        {"read", "", "Read One | Manual keep-alive read"},
        {"failed", "opening /media/one failed: Permission denied",
         "Read One | Manual keep-alive read failed: opening /media/one failed: Permission "
         "denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        releaseServices();
        sim().userDefaults().replacePersistentDomain({});
        sim().volumes().setVolumes({disk("U1", "One", "/media/one")});
        sim().uncachedReader().failReads("/media/one", c.failure);
        DriveKeepAlive& keepAlive = start();
        loop().advance(30);
        keepAlive.readNow("U1");
        keepAlive.readNow("nobody");
        EXPECT_EQ(activityTitles(), std::vector<std::string>{c.expected});
        EXPECT_EQ(keepAlive.drives()[0].lastRead, loop().now());
        EXPECT_EQ(storedList()[0]["lastRead"], loop().now().secondsSinceReferenceDate);
        services().activityLog().clear();
    }
}

TEST_F(DriveKeepAliveTest, AMissingShareGetsOneMountRequestAndComesBackOnline) {
    sim().volumes().setVolumes({share("/mnt/music", "//nas/music")});
    DriveKeepAlive& keepAlive = start();
    edit("/mnt/music", [](Drive& d) {
        d.enabled = true;
        d.lifecycle = Lifecycle::always;
    });
    loop().drain();
    ASSERT_EQ(readTargets().size(), 1u);

    edit("/mnt/music", [](Drive& d) { d.intervalOverride = 15; });
    sim().volumes().unmount("/mnt/music");
    keepAlive.readNow("/mnt/music");
    keepAlive.readNow("/mnt/music");
    loop().advance(50);  // due reads meanwhile find it gone again
    ASSERT_EQ(sim().networkShares().requests().size(), 1u);
    const auto& request = sim().networkShares().requests()[0];
    EXPECT_EQ(request.url, "smb://nas/music");
    EXPECT_TRUE(request.options.allowSubMounts);
    EXPECT_TRUE(request.options.softMount);
    EXPECT_TRUE(keepAlive.drives()[0].offline);
    EXPECT_TRUE(keepAlive.remountsInFlight().contains("/mnt/music"));
    EXPECT_EQ(readTargets().size(), 1u);

    sim().volumes().mount(share("/mnt/music", "//nas/music"));
    sim().networkShares().complete(0, {});
    loop().drain();
    EXPECT_FALSE(keepAlive.drives()[0].offline);
    EXPECT_TRUE(keepAlive.remountsInFlight().empty());
    keepAlive.rescan();
    loop().drain();
    EXPECT_EQ(activityTitles(), (std::vector<std::string>{
                                    "music unmounted | Remounting automatically",
                                    "music back online | Keep-alive resumed",
                                }));
}

TEST_F(DriveKeepAliveTest, AFailedMountLeavesTheShareOfflineUntilTheNextDueRead) {
    sim().volumes().setVolumes({share("/mnt/music", "//nas/music")});
    DriveKeepAlive& keepAlive = start();
    edit("/mnt/music", [](Drive& d) {
        d.enabled = true;
        d.lifecycle = Lifecycle::always;
    });
    loop().drain();
    sim().volumes().unmount("/mnt/music");
    loop().advance(180);
    ASSERT_EQ(sim().networkShares().requests().size(), 1u);
    sim().networkShares().complete(0, Error{"no route to host"});
    loop().drain();
    EXPECT_EQ(countLines("Remounting music failed: no route to host"), 1);
    EXPECT_TRUE(keepAlive.drives()[0].offline);
    EXPECT_TRUE(keepAlive.remountsInFlight().empty());
    loop().advance(180);
    EXPECT_EQ(sim().networkShares().requests().size(), 2u);
}

TEST_F(DriveKeepAliveTest, AMountThatNeverAnswersFailsAtItsLimitAndTheNextDueReadTriesAgain) {
    sim().volumes().setVolumes({share("/mnt/music", "//nas/music")});
    DriveKeepAlive& keepAlive = start();
    edit("/mnt/music", [](Drive& d) {
        d.enabled = true;
        d.lifecycle = Lifecycle::always;
    });
    sim().volumes().unmount("/mnt/music");
    keepAlive.readNow("/mnt/music");
    loop().advance(59);
    ASSERT_EQ(sim().networkShares().requests().size(), 1u);
    EXPECT_TRUE(keepAlive.remountsInFlight().contains("/mnt/music")) << "within its limit";
    EXPECT_EQ(countLines("Remounting music failed"), 0);
    loop().advance(1);
    EXPECT_FALSE(keepAlive.remountsInFlight().contains("/mnt/music")) << "ended at its limit";
    EXPECT_TRUE(sim().networkShares().requests()[0].released()) << "its mounter is stopped";
    EXPECT_EQ(countLines("Remounting music failed: no answer within 60 s"), 1);
    EXPECT_TRUE(keepAlive.drives()[0].offline);

    loop().advance(120);  // the drive's next due read
    ASSERT_EQ(sim().networkShares().requests().size(), 2u);
    EXPECT_TRUE(keepAlive.remountsInFlight().contains("/mnt/music"));
    // The first mounter answering after its limit speaks for no attempt.
    sim().networkShares().complete(0, {});
    loop().drain();
    EXPECT_TRUE(keepAlive.remountsInFlight().contains("/mnt/music"));
}

TEST_F(DriveKeepAliveTest, AScanThatSeesAShareMountedEndsItsRemountSoALaterDropRemountsAgain) {
    sim().volumes().setVolumes({share("/mnt/music", "//nas/music")});
    DriveKeepAlive& keepAlive = start();
    // Read while switched off and gone: a remount starts, and the next scan forgets the drive.
    sim().volumes().unmount("/mnt/music");
    keepAlive.readNow("/mnt/music");
    loop().drain();
    ASSERT_EQ(sim().networkShares().requests().size(), 1u);
    keepAlive.rescan();
    loop().drain();
    EXPECT_EQ(find("/mnt/music"), nullptr);

    // Mounted again by other means: it returns as a new drive, not offline.
    sim().volumes().mount(share("/mnt/music", "//nas/music"));
    keepAlive.rescan();
    loop().drain();
    ASSERT_NE(find("/mnt/music"), nullptr);
    EXPECT_TRUE(keepAlive.remountsInFlight().empty());
    EXPECT_TRUE(sim().networkShares().requests()[0].released());

    edit("/mnt/music", [](Drive& d) { d.enabled = true; });
    loop().drain();
    sim().volumes().unmount("/mnt/music");
    keepAlive.readNow("/mnt/music");
    loop().drain();
    EXPECT_EQ(sim().networkShares().requests().size(), 2u);
}

TEST_F(DriveKeepAliveTest, AnNfsShareIsMarkedOfflineButNeverRemounted) {
    sim().volumes().setVolumes({share("/mnt/nfs", "nas:/export")});
    DriveKeepAlive& keepAlive = start();
    edit("/mnt/nfs", [](Drive& d) {
        d.enabled = true;
        d.lifecycle = Lifecycle::always;
    });
    loop().drain();
    sim().volumes().unmount("/mnt/nfs");
    loop().advance(1000);
    EXPECT_TRUE(sim().networkShares().requests().empty());
    EXPECT_TRUE(keepAlive.drives()[0].offline);
    EXPECT_TRUE(keepAlive.remountsInFlight().contains("/mnt/nfs"));
    EXPECT_TRUE(activityTitles().empty());
    EXPECT_EQ(countLines("no address to remount"), 1);
}

TEST_F(DriveKeepAliveTest, AShareKnownByItsPathThatReturnsElsewhereIsANewDrive) {
    sim().volumes().setVolumes({share("/mnt/music", "//nas/music")});
    DriveKeepAlive& keepAlive = start();
    edit("/mnt/music", [](Drive& d) { d.enabled = true; });
    loop().drain();
    sim().volumes().setVolumes({share("/mnt/music-1", "//nas/music")});
    keepAlive.rescan();
    loop().drain();
    ASSERT_EQ(keepAlive.drives().size(), 2u);
    EXPECT_EQ(keepAlive.drives()[0].id, "/mnt/music");
    EXPECT_TRUE(keepAlive.drives()[0].offline);
    EXPECT_EQ(keepAlive.drives()[1].id, "/mnt/music-1");
    EXPECT_FALSE(keepAlive.drives()[1].enabled);
    EXPECT_TRUE(activityTitles().empty());
}

TEST_F(DriveKeepAliveTest, TheWorkerLowersItsPriorityBeforeItsFirstTask) {
    sim().volumes().setVolumes({disk("U1", "One", "/media/one")});
    sim().uncachedReader().setReadHook(
        [this] { EXPECT_EQ(sim().uncachedReader().priorityLowered(), 1); });
    start();
    edit("U1", [](Drive& d) { d.enabled = true; });
    loop().drain();
    EXPECT_EQ(readTargets().size(), 1u);
    EXPECT_EQ(sim().uncachedReader().priorityLowered(), 1);
}

TEST_F(DriveKeepAliveTest, NothingRunsAfterTheServiceIsDestroyedWithAReadPending) {
    sim().volumes().setVolumes({disk("U1", "One", "/media/one")});
    DriveKeepAlive& keepAlive = start();
    keepAlive.readNow("U1");  // queued, not yet run
    releaseServices();
    const auto writes = sim().userDefaults().writeCount();
    loop().advance(60);
    EXPECT_EQ(sim().userDefaults().writeCount(), writes);
    EXPECT_TRUE(activityTitles().empty());
    EXPECT_TRUE(sim().uncachedReader().reads().empty());
    EXPECT_EQ(services().existing<DriveKeepAlive>(), nullptr);
}

// On the real worker thread: a read stuck on its disk holds neither the service's end nor the
// main thread, and what it posts back afterwards finds nothing to run.
TEST(DriveKeepAliveThreadTest, DestroyingTheServiceDoesNotWaitForAStuckRead) {
    Registry::reset();
    RunLoop::install(std::make_unique<PollRunLoop>());
    auto owned = std::make_unique<SimPlatform>();
    SimPlatform& sim = *owned;
    Platform::install(std::move(owned));
    sim.volumes().setVolumes({disk("U1", "One", "/media/one")});

    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    sim.uncachedReader().setReadHook([&entered, released] {
        entered.set_value();
        released.wait();
    });
    auto& poll = static_cast<PollRunLoop&>(RunLoop::main());
    auto graph = std::make_unique<Services>(sim);
    DriveKeepAlive& keepAlive = graph->driveKeepAlive();
    poll.runFor(30, [&] { return !keepAlive.drives().empty(); });
    ASSERT_EQ(keepAlive.drives().size(), 1u);
    keepAlive.readNow("U1");
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);

    const auto writes = sim.userDefaults().writeCount();
    // Should the end wait for the read after all, a watchdog frees it so the case fails instead
    // of hanging.
    std::promise<void> resetReturned;
    std::atomic<bool> freedByWatchdog = false;
    std::thread watchdog([&, returned = resetReturned.get_future()] {
        if (returned.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            freedByWatchdog = true;
            release.set_value();
        }
    });
    graph.reset();  // returns while the read is still stuck
    resetReturned.set_value();
    watchdog.join();
    ASSERT_FALSE(freedByWatchdog);
    release.set_value();
    poll.runFor(30, [&] { return sim.uncachedReader().reads().size() == 1; });
    EXPECT_EQ(sim.uncachedReader().reads().size(), 1u);
    EXPECT_EQ(sim.userDefaults().writeCount(), writes);
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
}

}  // namespace
}  // namespace orvel
