#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Data.h"
#include "foundation/FileIO.h"
#include "foundation/PollRunLoop.h"
#include "foundation/VirtualRunLoop.h"
#include "platform/DiskSpinKeeper.h"
#include "platform/linux/LinuxLocalDisks.h"
#include "platform/linux/LinuxNetworkShares.h"
#include "platform/linux/LinuxPowerAssertions.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxUncachedReader.h"
#include "platform/linux/LinuxVolumes.h"
#include "platform/linux/UniqueFd.h"
#include "support/RealThings.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

const std::string kLaptop = std::string(ORVEL_TEST_DATA) + "/drives/laptop";

LinuxVolumesOptions laptop() {
    LinuxVolumesOptions o;
    o.mountInfo = kLaptop + "/mountinfo";
    o.devRoot = kLaptop + "/dev";
    o.sysRoot = kLaptop + "/sys";
    o.fstab = kLaptop + "/fstab";
    o.gvfsFolder = kLaptop + "/gvfs";
    return o;
}

std::string scratchFolder(const std::string& leaf) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string folder = std::string(ORVEL_TEST_BUILD_DIR) + "/scratch-" +
                               std::to_string(::getpid()) + "-" + info->name() + "-" + leaf;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

void writeText(const std::string& path, const std::string& text) {
    ASSERT_TRUE(writeFileAtomically(path, text).ok());
}

TEST(LinuxVolumesTest, ListsALaptopsVolumesAsAFileManagerShowsThem) {
    LinuxVolumes volumes(laptop());
    auto listed = volumes.mountedVolumes();
    ASSERT_TRUE(listed.ok()) << listed.error().message;
    const std::string gvfs = kLaptop + "/gvfs/";
    // Not shown: pseudo file systems, a snap, and mounts hidden by x-gvfs-hide in fstab
    // (/mnt/hidden) or in their own options (/mnt/backup) or super options (/mnt/archive).
    const std::vector<VolumeInfo> expected = {
        {"2b7e1c55-0d7a-4f3e-9a0c-5e8d2f4b6a11", std::nullopt, true, true, "/", "/dev/nvme0n1p2",
         true},
        {std::nullopt, std::nullopt, true, false, "/boot/efi", "/dev/nvme0n1p1", true},
        {"1234-ABCD", "My Disk", true, true, "/media/bob/My Disk", "/dev/sdb1", false},
        {std::nullopt, std::nullopt, false, true, "/mnt/music", "//nas.local/music"},
        {std::nullopt, std::nullopt, false, true, "/mnt/nfs", "nas.local:/export"},
        {std::nullopt, "build.local", false, true, gvfs + "sftp:host=build.local", ""},
        {std::nullopt, "photos", false, true,
         gvfs + "smb-share:server=nas.local,share=photos,user=bob", "//bob@nas.local/photos"},
        {std::nullopt, std::nullopt, false, true, "/home/bob/remote", "bob@host:/srv"},
        {std::nullopt, std::nullopt, true, false, "/srv/data", "/dev/sdc1"},
    };
    ASSERT_EQ(listed->size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].path);
        EXPECT_EQ((*listed)[i], expected[i]);
    }
}

TEST(LinuxVolumesTest, ListsAFolderOnAThreadOfItsOwnAndAnswersOnce) {
    LinuxVolumes volumes(laptop());
    const std::pair<std::string, bool> cases[] = {
        {kLaptop + "/gvfs", true},
        {kLaptop + "/missing", false},
        {kLaptop + "/mountinfo", false},  // a file, not a folder
    };
    for (const auto& [path, listed] : cases) {
        auto answer = std::make_shared<std::promise<bool>>();
        const auto caller = std::this_thread::get_id();
        auto answeredOn = std::make_shared<std::thread::id>();
        volumes.listDirectory(path, [answer, answeredOn](bool ok) {
            *answeredOn = std::this_thread::get_id();
            answer->set_value(ok);  // a second answer would throw
        });
        auto future = answer->get_future();
        ASSERT_EQ(future.wait_for(std::chrono::seconds(30)), std::future_status::ready) << path;
        EXPECT_EQ(future.get(), listed) << path;
        EXPECT_NE(*answeredOn, caller) << path;
    }
}

TEST(LinuxVolumesTest, AnUnreadableMountTableIsAFailedEnumeration) {
    LinuxVolumesOptions options = laptop();
    options.mountInfo = kLaptop + "/missing-mountinfo";
    auto listed = LinuxVolumes(options).mountedVolumes();
    ASSERT_FALSE(listed.ok());
    EXPECT_TRUE(listed.error().message.starts_with("enumeration failed")) << listed.error().message;
}

TEST(LinuxVolumesTest, MountInfoLinesDecodeTheirEscapes) {
    auto entry = LinuxVolumes::parseMountInfoLine(
        R"(40 22 8:1 / /media/a\040b\134c rw shared:1 master:2 - ext4 /dev/sd\040x rw,x)");
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->mountPoint, "/media/a b\\c");
    EXPECT_EQ(entry->source, "/dev/sd x");
    EXPECT_EQ(entry->type, "ext4");
    EXPECT_EQ(entry->device, "8:1");
    EXPECT_FALSE(LinuxVolumes::parseMountInfoLine("40 22 8:1 / /x rw").has_value());
}

TEST(LinuxVolumesTest, TellsTheSourceOfTheMountHoldingAPath) {
    LinuxVolumes volumes(laptop());
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"/mnt/music", "//nas.local/music"},
        {"/mnt/music/Albums", "//nas.local/music"},
        {"/mnt/musical", "/dev/nvme0n1p2"},
        {"/mnt/nfs", "nas.local:/export"},
        {kLaptop + "/gvfs/smb-share:server=nas.local,share=photos,user=bob/readme.txt",
         "//bob@nas.local/photos"},
        {kLaptop + "/gvfs/sftp:host=build.local", std::nullopt},
    };
    for (const auto& [path, source] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(volumes.mountSource(path), source);
    }
}

TEST(LinuxVolumesTest, ADroppedSharesEmptyMountPointCountsAsMissing) {
    const std::string root = scratchFolder("mounts");
    fs::create_directories(root + "/music");
    fs::create_directories(root + "/films");
    const std::string table =
        "22 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n"
        "30 22 0:60 / " +
        root + "/music rw - cifs //nas.local/music rw\n";
    writeText(root + "/mountinfo", table);
    LinuxVolumesOptions options = laptop();
    options.mountInfo = root + "/mountinfo";
    LinuxVolumes volumes(options);
    const std::pair<std::string, bool> cases[] = {
        {root + "/music", true},   // mounted
        {root + "/films", false},  // the share dropped; its folder stayed
        {root + "/gone", false},   // not even the folder
        {kLaptop + "/gvfs/smb-share:server=nas.local,share=photos,user=bob", true},
        {kLaptop + "/gvfs/smb-share:server=nas.local,share=other", false},
    };
    for (const auto& [path, present] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(volumes.networkPathExists(path), present);
    }
    fs::remove_all(root);
}

// Reads of a real file on a real disk. Pages are counted with mincore through a mapping of the
// file (mapping maps, it does not read).
class LinuxUncachedReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = scratchFolder("reads");
        struct statfs info {};
        ASSERT_EQ(::statfs(folder_.c_str(), &info), 0);
        if (info.f_type == 0x01021994) {  // TMPFS_MAGIC
            GTEST_SKIP() << "The build tree is on tmpfs, which keeps every page in memory: "
                            "there is no disk for a read to reach and nothing to drop.";
        }
        file_ = folder_ + "/data.bin";
        std::string bytes(kSize, 'x');
        writeText(file_, bytes);
        UniqueFd fd(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(fd);
        ::fdatasync(fd.get());
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::size_t cachedPages() {
        UniqueFd fd(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
        void* map = ::mmap(nullptr, kSize, PROT_READ, MAP_SHARED, fd.get(), 0);
        EXPECT_NE(map, MAP_FAILED);
        std::vector<unsigned char> pages(kSize / 4096);
        EXPECT_EQ(::mincore(map, kSize, pages.data()), 0);
        ::munmap(map, kSize);
        std::size_t n = 0;
        for (unsigned char p : pages) {
            n += p & 1;
        }
        return n;
    }

    static constexpr std::size_t kSize = 1 << 20;
    std::string folder_;
    std::string file_;
};

TEST_F(LinuxUncachedReaderTest, ReadsABlockThatLeavesNoPageCachedAndOpensNothingForWriting) {
    struct Case {
        const char* what;
        bool direct;
        UncachedReadPath path;
    };
    const Case cases[] = {{"O_DIRECT", true, UncachedReadPath::direct},
                          {"forced fallback", false, UncachedReadPath::dropBehind}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        ASSERT_TRUE(watch);
        ASSERT_GE(::inotify_add_watch(watch.get(), file_.c_str(),
                                      IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_MODIFY),
                  0);
        ASSERT_EQ(cachedPages(), 0u);
        LinuxUncachedReader reader(c.direct);
        auto read = reader.readBlock(file_);
        ASSERT_TRUE(read.ok()) << read.error().message;
        EXPECT_EQ(read->bytesRead, 4096u);
        EXPECT_EQ(read->offset % 4096, 0u);
        EXPECT_LE(read->offset, kSize - 4096);
        EXPECT_EQ(read->path, c.path);
        EXPECT_EQ(cachedPages(), 0u);

        alignas(inotify_event) char buffer[4096];
        const ssize_t n = ::read(watch.get(), buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        int closedAfterReading = 0;
        for (char* p = buffer; p < buffer + n;) {
            auto* event = reinterpret_cast<inotify_event*>(p);
            EXPECT_EQ(event->mask & (IN_CLOSE_WRITE | IN_MODIFY), 0u);
            closedAfterReading += (event->mask & IN_CLOSE_NOWRITE) != 0;
            p += sizeof(inotify_event) + event->len;
        }
        // The reader's own descriptor; cachedPages() opens after the read's close.
        EXPECT_GE(closedAfterReading, 1);
    }
}

TEST_F(LinuxUncachedReaderTest, ListsEntriesWithoutFollowingLinksAndFailsOnAFolder) {
    fs::create_directories(folder_ + "/sub");
    fs::create_symlink(file_, folder_ + "/link");
    LinuxUncachedReader reader;
    auto entries = reader.listDirectory(folder_);
    ASSERT_TRUE(entries.ok());
    std::map<std::string, DirectoryEntry> byName;
    for (const DirectoryEntry& e : *entries) {
        byName[e.name] = e;
    }
    struct stat info {};
    ASSERT_EQ(::lstat(file_.c_str(), &info), 0);
    const DirectoryEntry data{"data.bin",
                              true,
                              false,
                              kSize,
                              static_cast<std::uint64_t>(info.st_blocks) * 512,
                              ::geteuid(),
                              info.st_mode & 07777u,
                              static_cast<std::uint64_t>(info.st_dev)};
    ASSERT_EQ(byName.size(), 3u);
    EXPECT_EQ(byName["data.bin"], data);
    EXPECT_EQ(reader.inspect(file_).value(), data);
    EXPECT_FALSE(byName["link"].regularFile || byName["link"].folder);
    EXPECT_TRUE(byName["sub"].folder && !byName["sub"].regularFile);
    EXPECT_EQ(byName["sub"].mode, reader.inspect(folder_ + "/sub")->mode);
    EXPECT_FALSE(reader.inspect(folder_ + "/missing").ok());
    EXPECT_FALSE(reader.readBlock(folder_ + "/sub").ok());
    EXPECT_FALSE(reader.readBlock(folder_ + "/missing").ok());
    EXPECT_FALSE(reader.listDirectory(folder_ + "/missing").ok());
}

// Files that another user could have put where a keep-alive looks, read with and without the
// trust a keep-alive gives them.
TEST(LinuxTrustedReadTest, ATrustedReadRefusesLinksSparseFilesAndOtherUsersFiles) {
    const std::string folder = scratchFolder("trust");
    LinuxUncachedReader reader(false);
    const std::string own = folder + "/own.bin";
    writeText(own, std::string(64 * 1024, 'x'));
    fs::create_symlink(own, folder + "/link");
    {
        UniqueFd sparse(::open((folder + "/sparse.img").c_str(), O_WRONLY | O_CREAT, 0600));
        ASSERT_TRUE(sparse);
        ASSERT_EQ(::ftruncate(sparse.get(), off_t{1} << 40), 0);  // 1 TiB of holes
    }
    ASSERT_EQ(::mkfifo((folder + "/fifo").c_str(), 0600), 0);
    writeText(folder + "/theirs.bin", std::string(64 * 1024, 'y'));
    const bool otherOwner =
        ::geteuid() == 0 && ::chown((folder + "/theirs.bin").c_str(), 1000, 1000) == 0;
    const TrustedFile trusted{reader.inspect(own)->device, reader.user()};
    const TrustedFile elsewhere{trusted.device + 1, trusted.user};
    struct Case {
        std::string target;
        const TrustedFile* trust;
        std::string refusal;  // empty: read
    };
    std::vector<Case> cases = {
        {own, &trusted, ""},
        {own, nullptr, ""},
        {folder + "/link", nullptr, ""},  // what an untrusted read does
        {folder + "/link", &trusted, "Too many levels of symbolic links"},
        {folder + "/sparse.img", &trusted, "is sparse"},
        {folder + "/fifo", &trusted, "is no regular file"},
        {own, &elsewhere, "is on another file system"},
    };
    if (otherOwner) {
        cases.push_back({folder + "/theirs.bin", &trusted, "belongs to another user (uid 1000)"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target + (c.trust ? " trusted" : ""));
        auto read = reader.readBlock(c.target, c.trust);
        if (c.refusal.empty()) {
            ASSERT_TRUE(read.ok()) << read.error().message;
            EXPECT_EQ(read->bytesRead, 4096u);
        } else {
            ASSERT_FALSE(read.ok());
            EXPECT_NE(read.error().message.find(c.refusal), std::string::npos)
                << read.error().message;
        }
    }
    if (!otherOwner) {
        std::cout << "Not tried: another owner's file (giving a file to uid 1000 needs root)\n";
    }
    fs::remove_all(folder);
}

TEST(LinuxTrustedReadTest, OrvelsOwnFileIsWrittenOnceWithEveryBlockOnTheDisk) {
    const std::string folder = scratchFolder("own");
    LinuxUncachedReader reader(false);
    const std::string own = folder + "/cache/orvel/disk-keep-alive";
    const auto facts = [&] {
        struct stat info {};
        EXPECT_EQ(::lstat(own.c_str(), &info), 0);
        return info;
    };
    ASSERT_TRUE(reader.keepFile(own, 1 << 20).ok());
    const struct stat first = facts();
    EXPECT_TRUE(S_ISREG(first.st_mode));
    EXPECT_EQ(first.st_size, 1 << 20);
    EXPECT_EQ(first.st_mode & 0777, 0600u);
    EXPECT_EQ(fs::status(folder + "/cache/orvel").permissions(), fs::perms::owner_all);
    EXPECT_FALSE(isSparse(1 << 20, static_cast<std::uint64_t>(first.st_blocks) * 512));
    const std::string bytes = test::readText(own);
    EXPECT_NE(bytes.find_first_not_of('\0'), std::string::npos) << "bytes a file system keeps";

    ASSERT_TRUE(reader.keepFile(own, 1 << 20).ok());
    EXPECT_EQ(facts().st_ino, first.st_ino) << "written once";
    EXPECT_EQ(test::readText(own), bytes);

    // Anything else at its name is replaced, never written through: a link's target stays.
    const std::string target = folder + "/target";
    writeText(target, "kept");
    fs::remove(own);
    fs::create_symlink(target, own);
    ASSERT_TRUE(reader.keepFile(own, 1 << 20).ok());
    EXPECT_TRUE(S_ISREG(facts().st_mode));
    EXPECT_EQ(test::readText(target), "kept");
    fs::remove_all(folder);
}

TEST(LinuxUncachedReaderThreadTest, TheReadingThreadGetsTheIdleIoClassAndNoOtherThreadDoes) {
    auto ioClass = [] { return static_cast<int>(::syscall(SYS_ioprio_get, 1, 0)) >> 13; };
    const int mainClass = ioClass();
    int workerClass = -1;
    std::thread worker([&] {
        LinuxUncachedReader().lowerThreadPriority();
        workerClass = ioClass();
    });
    worker.join();
    EXPECT_EQ(workerClass, 3);  // IOPRIO_CLASS_IDLE
    EXPECT_EQ(ioClass(), mainClass);
}

// The mounter with fake programs that write their arguments down and then succeed, fail or hang.
class LinuxNetworkSharesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RunLoop::install(std::make_unique<PollRunLoop>());
        folder_ = scratchFolder("shares");
    }
    void TearDown() override {
        RunLoop::install(nullptr);
        fs::remove_all(folder_);
    }

    std::string program(const std::string& name, const std::string& body) {
        const std::string path = folder_ + "/" + name;
        writeText(path, "#!/bin/sh\necho \"$@\" > \"" + path + ".args\"\n" + body + "\n");
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }

    std::string argumentsOf(const std::string& program) {
        auto data = readFile(program + ".args");
        return data ? stringFromData(*data) : "";
    }

    // Mounts and turns the loop until the callback came, then a little beyond the child's end.
    std::vector<Result<void>> mount(LinuxNetworkShares& shares, const std::string& url) {
        auto results = std::make_shared<std::vector<Result<void>>>();
        requests_.push_back(shares.mountAsync(
            url, MountOptions{}, [results](Result<void> r) { results->push_back(r); }));
        static_cast<PollRunLoop&>(RunLoop::main()).runFor(30, [&] { return !results->empty(); });
        return *results;
    }

    LinuxProcesses processes_;
    std::string folder_;
    std::vector<std::unique_ptr<MountRequest>> requests_;
};

TEST_F(LinuxNetworkSharesTest, EachRequestCallsBackOnceWhateverTheProgramDoes) {
    struct Case {
        const char* what;
        std::string body;
        bool succeeds;
        std::string error;
    };
    const Case cases[] = {
        {"succeeds", "exit 0", true, ""},
        {"fails", "exit 2", false, "ended with status 2"},
        {"hangs", "exec sleep 600", false, "gave no answer within"},
        {"crashes", "kill -9 $$", false, "ended with status 137"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LinuxNetworkSharesOptions options;
        options.gioProgram = program("gio", c.body);
        options.fstab = kLaptop + "/fstab";
        // Only the hanging program may meet the limit, however slow the machine.
        options.timeoutSeconds = c.body.starts_with("exec sleep") ? 0.5 : 25;
        LinuxNetworkShares shares(processes_, options);
        auto results = mount(shares, "smb://nas.local/films");
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].ok(), c.succeeds);
        if (!c.succeeds) {
            EXPECT_NE(results[0].error().message.find(c.error), std::string::npos)
                << results[0].error().message;
        }
        EXPECT_EQ(argumentsOf(options.gioProgram), "mount smb://nas.local/films\n");
        // A later request's answer comes after anything left of this one.
        LinuxNetworkSharesOptions quick = options;
        quick.gioProgram = program("gio-quick", "exit 0");
        LinuxNetworkShares other(processes_, quick);
        EXPECT_EQ(mount(other, "smb://nas.local/other").size(), 1u);
        EXPECT_EQ(results.size(), 1u);
    }
}

TEST_F(LinuxNetworkSharesTest, AUserMountableFstabEntryIsMountedByItsMountPoint) {
    LinuxNetworkSharesOptions options;
    options.mountProgram = program("mount", "exit 0");
    options.gioProgram = program("gio", "exit 0");
    options.fstab = kLaptop + "/fstab";
    LinuxNetworkShares shares(processes_, options);
    struct Case {
        std::string url;
        std::string program;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {"smb://nas.local/music", options.mountProgram, {"/mnt/music"}},
        {"smb://bob@nas.local/music/", options.mountProgram, {"/mnt/music"}},
        {"smb://nas.local/films", options.gioProgram, {"mount", "smb://nas.local/films"}},
        {"smb://nas.local/photos", options.gioProgram, {"mount", "smb://nas.local/photos"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const LaunchRequest command = shares.commandFor(c.url);
        EXPECT_EQ(command.executable, c.program);
        EXPECT_EQ(command.arguments, c.arguments);
    }
    auto results = mount(shares, "smb://nas.local/music");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].ok());
    EXPECT_EQ(argumentsOf(options.mountProgram), "/mnt/music\n");
}

TEST_F(LinuxNetworkSharesTest, AMissingGioIsNamedAndItsRequestCallsBackOnceOnALaterTurn) {
    LinuxNetworkSharesOptions options;
    options.gioProgram = folder_ + "/no-such-gio";
    options.fstab = kLaptop + "/fstab";
    LinuxNetworkShares shares(processes_, options);
    EXPECT_EQ(shares.unavailableReason(),
              "gio is not installed (package libglib2.0-bin): a share that drops is mounted again "
              "only through a user entry in /etc/fstab.");
    options.gioProgram = program("gio", "exit 0");
    EXPECT_EQ(LinuxNetworkShares(processes_, options).unavailableReason(), std::nullopt);
    int calls = 0;
    auto request = shares.mountAsync("smb://nas.local/films", MountOptions{}, [&](Result<void> r) {
        ++calls;
        EXPECT_FALSE(r.ok());
    });
    EXPECT_EQ(calls, 0);
    static_cast<PollRunLoop&>(RunLoop::main()).runFor(30, [&] { return calls > 0; });
    EXPECT_EQ(calls, 1);
}

TEST_F(LinuxNetworkSharesTest, ADroppedRequestStopsItsProgramAndNeverCallsBack) {
    LinuxNetworkSharesOptions options;
    const std::string pidFile = folder_ + "/gio.pid";
    options.gioProgram = program("gio", "echo $$ > \"" + pidFile + ".new\"\nmv \"" + pidFile +
                                            ".new\" \"" + pidFile + "\"\nexec sleep 600");
    options.fstab = kLaptop + "/fstab";
    LinuxNetworkShares shares(processes_, options);
    int calls = 0;
    auto request =
        shares.mountAsync("smb://nas.local/films", MountOptions{}, [&](Result<void>) { ++calls; });
    auto& loop = static_cast<PollRunLoop&>(RunLoop::main());
    // Wakes the loop to look again; the program's start and end make no event of their own.
    Timer look = loop.every(0.02, [] {});
    pid_t pid = 0;
    ASSERT_TRUE(loop.runFor(30, [&] { return static_cast<bool>(std::ifstream(pidFile) >> pid); }));

    request.reset();
    EXPECT_TRUE(loop.runFor(30, [&] { return ::kill(pid, 0) != 0; }))
        << "the mounter is still running after its request was dropped";
    // A later request's answer comes after anything left of this one.
    LinuxNetworkSharesOptions quick = options;
    quick.gioProgram = program("gio-quick", "exit 0");
    LinuxNetworkShares other(processes_, quick);
    EXPECT_EQ(mount(other, "smb://nas.local/other").size(), 1u);
    EXPECT_EQ(calls, 0);
}

// A mounter deaf to SIGTERM, on virtual time: the grace and the limit pass only when the test
// says so, while the processes are real.
TEST_F(LinuxNetworkSharesTest, AMounterDeafToSigtermIsKilledAfterItsGraceAndNeverJoinedByAnother) {
    auto owned = std::make_unique<VirtualRunLoop>();
    VirtualRunLoop& loop = *owned;
    RunLoop::install(std::move(owned));
    const std::string starts = folder_ + "/starts";
    LinuxNetworkSharesOptions options;
    options.gioProgram =
        program("gio", "trap '' TERM\necho $$ >> \"" + starts + "\"\nexec sleep 600");
    options.fstab = kLaptop + "/fstab";
    options.graceSeconds = 1;
    auto shares = std::make_unique<LinuxNetworkShares>(processes_, options);
    std::vector<std::string> results;
    const auto mount = [&] {
        auto request = shares->mountAsync(
            "smb://nas.local/films", MountOptions{},
            [&](Result<void> r) { results.push_back(r ? "ok" : r.error().message); });
        loop.drain();
        return request;
    };
    const auto started = [&] {
        std::vector<pid_t> pids;
        std::ifstream in(starts);
        for (pid_t pid = 0; in >> pid;) {
            pids.push_back(pid);
        }
        return pids;
    };
    const auto alive = [](pid_t pid) { return ::kill(pid, 0) == 0; };

    auto first = mount();
    ASSERT_TRUE(test::waitUntil([&] { return started().size() == 1; }));
    const pid_t deaf = started()[0];
    first.reset();  // as the keep-alive drops it at its limit
    loop.advance(options.graceSeconds - 0.5);
    auto second = mount();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_NE(results[0].find("is still running"), std::string::npos) << results[0];
    EXPECT_TRUE(alive(deaf)) << "killed before its grace was over";
    loop.advance(0.5);
    EXPECT_TRUE(test::waitUntil([&] { return !alive(deaf); })) << "it outlived its grace";
    EXPECT_EQ(started().size(), 1u) << "a second mounter ran beside the first";

    // The mounter's own limit stops it the same way.
    auto third = mount();
    ASSERT_TRUE(test::waitUntil([&] { return started().size() == 2; }));
    loop.advance(options.timeoutSeconds);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_NE(results[1].find("gave no answer within 60 s"), std::string::npos) << results[1];
    loop.advance(options.graceSeconds);
    EXPECT_TRUE(test::waitUntil([&] { return !alive(started()[1]); }));

    // Quitting waits out the grace and kills what is left: nothing outlives Orvel.
    auto fourth = mount();
    ASSERT_TRUE(test::waitUntil([&] { return started().size() == 3; }));
    shares.reset();
    EXPECT_FALSE(alive(started()[2])) << "left running as Orvel quit";
}

TEST_F(LinuxNetworkSharesTest, ARequestLeftWhenTheMounterGoesCallsBackOnceAndStartsNothing) {
    LinuxNetworkSharesOptions options;
    options.gioProgram = program("gio", "exit 0");
    options.fstab = kLaptop + "/fstab";
    int calls = 0;
    std::string message;
    std::unique_ptr<MountRequest> request;
    {
        LinuxNetworkShares shares(processes_, options);
        request = shares.mountAsync("smb://nas.local/films", MountOptions{}, [&](Result<void> r) {
            ++calls;
            message = r.ok() ? "" : r.error().message;
        });
    }
    static_cast<PollRunLoop&>(RunLoop::main()).runFor(30, [&] { return calls > 0; });
    EXPECT_EQ(calls, 1);
    EXPECT_NE(message.find("abandoned"), std::string::npos) << message;
    EXPECT_FALSE(fs::exists(options.gioProgram + ".args"));
}

}  // namespace
}  // namespace orvel

namespace orvel {
namespace {

// A machine's /sys/block, /dev and mount table, written from a table of disks.
class LinuxLocalDisksTest : public ::testing::Test {
  protected:
    struct Block {
        std::string name;
        bool hardware;                    // a "device" link
        std::optional<std::string> type;  // the SCSI type
        std::string rotational;
        std::string removable;
        std::string number;
        std::vector<std::pair<std::string, std::string>> partitions;  // name, number
        std::vector<std::pair<std::string, std::string>> holders;     // of a partition, by name
    };

    void SetUp() override { root_ = scratchFolder("disks"); }
    void TearDown() override { fs::remove_all(root_); }

    void write(const std::vector<Block>& blocks, const std::string& mountInfo) {
        const std::string block = root_ + "/sys/block";
        for (const Block& b : blocks) {
            const std::string folder = block + "/" + b.name;
            fs::create_directories(folder + "/queue");
            fs::create_directories(folder + "/holders");
            if (b.hardware) {
                fs::create_directories(folder + "/device");
            }
            if (b.type) {
                writeText(folder + "/device/type", *b.type + "\n");
            }
            writeText(folder + "/queue/rotational", b.rotational + "\n");
            writeText(folder + "/removable", b.removable + "\n");
            writeText(folder + "/dev", b.number + "\n");
            for (const auto& [part, number] : b.partitions) {
                fs::create_directories(folder + "/" + part + "/holders");
                writeText(folder + "/" + part + "/partition", "1\n");
                writeText(folder + "/" + part + "/dev", number + "\n");
            }
            for (const auto& [part, holder] : b.holders) {
                fs::create_directories(folder + "/" + part + "/holders/" + holder);
            }
        }
        fs::create_directories(root_ + "/dev/mapper");
        fs::create_symlink("../dm-0", root_ + "/dev/mapper/home");
        writeText(root_ + "/mountinfo", mountInfo);
    }

    LinuxLocalDisks disks() {
        return LinuxLocalDisks({root_ + "/sys", root_ + "/dev", root_ + "/mountinfo"});
    }

    std::string root_;
};

TEST_F(LinuxLocalDisksTest, OnlyTheSpinningDisksOfTheMachineAreKeptWithEveryMountOnThem) {
    write(
        {
            {"dm-0", false, {}, "1", "0", "254:0", {}, {}},  // LUKS on sda2
            {"loop0", false, {}, "1", "0", "7:0", {}, {}},
            {"mmcblk0", true, {}, "0", "1", "179:0", {}, {}},  // an SD card
            {"nvme0n1", true, {}, "0", "0", "259:0", {{"nvme0n1p1", "259:1"}}, {}},
            {"sda",
             true,
             "0",
             "1",
             "0",
             "8:0",
             {{"sda1", "8:1"}, {"sda2", "8:2"}},
             {{"sda2", "dm-0"}}},
            {"sdb", true, "0", "1", "1", "8:16", {{"sdb1", "8:17"}}, {}},  // a USB card reader
            {"sdc", true, "0", "1", "0", "8:32", {{"sdc1", "8:33"}}, {}},
            {"sr0", true, "5", "1", "1", "11:0", {}, {}},  // an optical drive
            {"vda", true, {}, "1", "0", "253:0", {}, {}},  // virtio: no SCSI type
            {"zram0", false, {}, "0", "0", "252:0", {}, {}},
        },
        "20 1 259:1 / / rw - ext4 /dev/nvme0n1p1 rw\n"
        "21 20 0:22 / /proc rw - proc proc rw\n"
        "22 20 8:1 / /data rw - ext4 /dev/sda1 rw\n"
        // btrfs gives its mounts numbers of their own: the source tells the device.
        "23 20 0:46 / /home rw - btrfs /dev/mapper/home rw\n"
        "24 20 0:47 / /srv rw - btrfs /dev/sdc1 rw\n"
        "25 20 8:17 / /media/card rw - vfat /dev/sdb1 rw\n"
        "26 20 0:50 / /mnt/nas rw - nfs4 nas.local:/export rw\n"
        "27 20 7:0 / /snap/core rw - squashfs /dev/loop0 ro\n");
    auto listing = disks().localDisks();
    ASSERT_TRUE(listing.ok()) << listing.error().message;
    std::vector<std::string> kept;
    std::map<std::string, std::vector<std::string>> mounts;
    for (const LocalDisk& disk : listing->disks) {
        mounts[disk.name] = disk.mountPoints;
        if (spinsDown(disk)) {
            kept.push_back(disk.name);
            EXPECT_EQ(disk.devicePath, root_ + "/dev/" + disk.name);
        }
    }
    EXPECT_EQ(kept, (std::vector<std::string>{"sda", "sdc", "vda"}));
    EXPECT_EQ(mounts, (std::map<std::string, std::vector<std::string>>{
                          {"mmcblk0", {}},
                          {"nvme0n1", {"/"}},
                          {"sda", {"/data", "/home"}},
                          {"sdb", {"/media/card"}},
                          {"sdc", {"/srv"}},
                          {"vda", {}},
                      }))
        << "no virtual device or optical drive is listed";
    EXPECT_EQ(listing->allMountPoints.size(), 8u);
}

TEST_F(LinuxLocalDisksTest, WithoutABlockFolderTheListingSaysWhy) {
    auto listing = disks().localDisks();
    ASSERT_FALSE(listing.ok());
    EXPECT_NE(listing.error().message.find("No such file or directory"), std::string::npos)
        << listing.error().message;
}

// The real reader through the power assertion: files stand in for the device nodes, and the
// kernel's access notices show which were read.
TEST_F(LinuxLocalDisksTest, ADiskIdleAssertionReadsTheSpinningDiskAndNotTheSsd) {
    RunLoop::install(std::make_unique<PollRunLoop>());
    // Listed in name order: an SSD read would come before the spinning disk's read.
    write(
        {{"sda", true, "0", "0", "0", "8:0", {}, {}}, {"sdb", true, "0", "1", "0", "8:16", {}, {}}},
        "");
    for (const char* node : {"sda", "sdb"}) {
        writeText(root_ + "/dev/" + node, std::string(1 << 20, 'x'));
    }
    UniqueFd notices(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    ASSERT_TRUE(notices);
    ASSERT_GE(::inotify_add_watch(notices.get(), (root_ + "/dev").c_str(), IN_ACCESS), 0);
    std::vector<std::string> accessed;
    FdWatch watch = RunLoop::main().watchFd(notices.get(), kFdReadable, [&](unsigned) {
        alignas(inotify_event) char buffer[4096];
        const ssize_t n = ::read(notices.get(), buffer, sizeof buffer);
        for (char* p = buffer; n > 0 && p < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            accessed.emplace_back(event->len > 0 ? event->name : "");
            p += sizeof(inotify_event) + event->len;
        }
    });
    {
        LinuxPowerAssertions assertions(
            nullptr, nullptr,
            std::make_unique<DiskSpinKeeper>(std::make_shared<LinuxLocalDisks>(disks()),
                                             std::make_shared<LinuxUncachedReader>()));
        const auto created =
            assertions.createWithName(assertion_type::kPreventDiskIdle, kAssertionLevelOn, "Orvel");
        ASSERT_EQ(created.status, kIOReturnSuccess);
        auto& loop = static_cast<PollRunLoop&>(RunLoop::main());
        EXPECT_TRUE(loop.runFor(30, [&] { return !accessed.empty(); }));
        EXPECT_EQ(accessed, std::vector<std::string>{"sdb"});
        EXPECT_EQ(assertions.release(created.id), kIOReturnSuccess);
    }
    watch.cancel();
    RunLoop::install(nullptr);
}

// A disk whose device this user may not open, with files another user planted on it: the
// real reader through the power assertion reads Orvel's own file where the cache folder is on
// the disk, and says the disk is unkept where it is not, never touching a planted file.
TEST_F(LinuxLocalDisksTest, ADiskOpenToNoOneIsReadThroughOrvelsOwnFileOrSaidToBeUnkept) {
    RunLoop::install(std::make_unique<PollRunLoop>());
    const std::string mount = root_ + "/mnt";
    write({{"sdb", true, "0", "1", "0", "8:16", {}, {}}},
          "22 1 8:16 / " + mount + " rw - ext4 /dev/sdb rw\n");
    fs::create_directories(mount + "/tmp");
    fs::permissions(mount + "/tmp", fs::perms::all | fs::perms::sticky_bit);
    {
        UniqueFd sparse(::open((mount + "/tmp/huge.img").c_str(), O_WRONLY | O_CREAT, 0644));
        ASSERT_TRUE(sparse);
        ASSERT_EQ(::ftruncate(sparse.get(), off_t{1} << 40), 0);
    }
    writeText(mount + "/theirs.bin", std::string(1 << 20, 'y'));
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown((mount + "/theirs.bin").c_str(), 1000, 1000), 0);
    } else {
        fs::remove(mount + "/theirs.bin");  // only root can give a file away
    }
    fs::create_symlink(mount + "/tmp/huge.img", mount + "/link.img");

    UniqueFd notices(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    ASSERT_TRUE(notices);
    ASSERT_GE(::inotify_add_watch(notices.get(), mount.c_str(), IN_ACCESS | IN_OPEN), 0);
    ASSERT_GE(::inotify_add_watch(notices.get(), (mount + "/tmp").c_str(), IN_ACCESS | IN_OPEN), 0);
    std::vector<std::string> touched;
    FdWatch watch = RunLoop::main().watchFd(notices.get(), kFdReadable, [&](unsigned) {
        alignas(inotify_event) char buffer[4096];
        const ssize_t n = ::read(notices.get(), buffer, sizeof buffer);
        for (char* p = buffer; n > 0 && p < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            if (event->len > 0) {
                touched.emplace_back(event->name);
            }
            p += sizeof(inotify_event) + event->len;
        }
    });
    auto& loop = static_cast<PollRunLoop&>(RunLoop::main());
    struct Case {
        const char* what;
        std::string ownFolder;
        std::vector<std::string> unkept;
    };
    const Case cases[] = {
        {"the cache folder on the disk", mount + "/home/user/.cache/orvel", {}},
        {"the cache folder elsewhere", root_ + "/elsewhere/.cache/orvel", {"sdb"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        touched.clear();
        const bool onDisk = c.unkept.empty();
        if (onDisk) {
            // Made here to be watched; the file in it is the keeper's to make.
            fs::create_directories(c.ownFolder);
            ASSERT_GE(::inotify_add_watch(notices.get(), c.ownFolder.c_str(), IN_ACCESS), 0);
        }
        const auto read = [&](const std::string& name) {
            return std::find(touched.begin(), touched.end(), name) != touched.end();
        };
        LinuxPowerAssertions assertions(
            nullptr, nullptr,
            std::make_unique<DiskSpinKeeper>(std::make_shared<LinuxLocalDisks>(disks()),
                                             std::make_shared<LinuxUncachedReader>(), c.ownFolder));
        int told = 0;
        auto subscription = assertions.shortfallChanged.subscribe([&] { ++told; });
        const auto created =
            assertions.createWithName(assertion_type::kPreventDiskIdle, kAssertionLevelOn, "Orvel");
        ASSERT_EQ(created.status, kIOReturnSuccess);
        const std::string own = c.ownFolder + "/" + DiskSpinKeeper::kOwnFileName;
        if (onDisk) {
            EXPECT_TRUE(loop.runFor(30, [&] { return read(DiskSpinKeeper::kOwnFileName); }));
            EXPECT_EQ(fs::file_size(own), DiskSpinKeeper::kOwnFileSize);
        } else {
            EXPECT_TRUE(loop.runFor(30, [&] { return told > 0; }));
            EXPECT_FALSE(fs::exists(own));
        }
        EXPECT_EQ(assertions.unkeptDisks(), c.unkept);
        EXPECT_FALSE(read("huge.img") || read("theirs.bin") || read("link.img"));
        EXPECT_EQ(assertions.release(created.id), kIOReturnSuccess);
        EXPECT_EQ(assertions.unkeptDisks(), std::vector<std::string>{});
    }
    watch.cancel();
    RunLoop::install(nullptr);
}

}  // namespace
}  // namespace orvel
