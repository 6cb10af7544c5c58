#include "platform/DiskSpinKeeper.h"

#include "foundation/Log.h"
#include "foundation/SerialQueue.h"

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace orvel {

namespace {

// Enough of a file system's top to find a large file without wandering through all of it.
constexpr int kFoldersWalked = 64;
// Larger than any drive's cache, so reads spread over it rarely land on what the drive holds.
constexpr std::uint64_t kLargeEnough = 512ull << 20;

std::string joinPath(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// The largest regular file in the first folders of the file system mounted at `root`, without
// crossing into another mount; none when it holds no file with data.
std::optional<std::string> largestFile(UncachedReader& reader, const std::string& root,
                                       const std::vector<std::string>& mounts) {
    std::deque<std::string> folders{root};
    std::optional<std::string> best;
    std::uint64_t bestSize = 0;
    for (int walked = 0; walked < kFoldersWalked && !folders.empty(); ++walked) {
        const std::string folder = std::move(folders.front());
        folders.pop_front();
        auto entries = reader.listDirectory(folder);
        if (!entries) {
            continue;
        }
        for (const DirectoryEntry& entry : *entries) {
            // Hidden files are mostly small bookkeeping, likely in a cache of some kind.
            if (entry.name.empty() || entry.name.front() == '.') {
                continue;
            }
            const std::string path = joinPath(folder, entry.name);
            if (entry.folder && std::find(mounts.begin(), mounts.end(), path) == mounts.end()) {
                folders.push_back(path);
            } else if (entry.regularFile && entry.size > bestSize) {
                best = path;
                bestSize = entry.size;
            }
        }
        if (bestSize >= kLargeEnough) {
            break;
        }
    }
    return best;
}

}  // namespace

struct DiskSpinKeeper::Worker {
    struct Disk {
        std::optional<std::string> target;  // what read last time
        int retryIn = 0;                    // rounds until an unreadable disk is tried again
        bool told = false;                  // its failure was logged
    };
    std::map<std::string, Disk> disks;
    bool listingTold = false;
    Logger log{"disks"};

    // Reads `target`; true when a byte came from the disk.
    static bool reads(UncachedReader& reader, const std::string& target, std::string& why) {
        auto read = reader.readBlock(target);
        if (!read) {
            why = read.error().message;
            return false;
        }
        if (read->bytesRead == 0) {
            why = target + " gave no bytes";
            return false;
        }
        return true;
    }

    void keep(UncachedReader& reader, const LocalDisk& disk, const LocalDiskListing& listing) {
        Disk& state = disks[disk.name];
        std::string why;
        if (state.target && reads(reader, *state.target, why)) {
            return;
        }
        state.target.reset();
        if (state.retryIn > 0) {
            --state.retryIn;
            return;
        }
        std::vector<std::string> candidates{disk.devicePath};
        for (const std::string& mount : disk.mountPoints) {
            if (auto file = largestFile(reader, mount, listing.allMountPoints)) {
                candidates.push_back(*file);
            }
        }
        std::string reasons;
        for (const std::string& candidate : candidates) {
            if (reads(reader, candidate, why)) {
                state.target = candidate;
                if (state.told) {
                    log.notice("Keeping " + disk.name + " spinning again, by reading " + candidate);
                    state.told = false;
                }
                return;
            }
            reasons += (reasons.empty() ? "" : "; ") + why;
        }
        state.retryIn = kRetryRounds;
        if (!state.told) {
            state.told = true;
            log.notice(
                disk.name + " may spin down: nothing on it could be read (" +
                (disk.mountPoints.empty() ? "no file system of it is mounted; " : std::string()) +
                reasons + ")");
        }
    }

    void round(LocalDisks& source, UncachedReader& reader, const std::atomic<bool>& holding) {
        auto listing = source.localDisks();
        if (!listing) {
            if (!listingTold) {
                listingTold = true;
                log.error("The disks could not be listed, so none is kept spinning: " +
                          listing.error().message);
            }
            return;
        }
        listingTold = false;
        for (const LocalDisk& disk : listing->disks) {
            if (!holding.load()) {
                return;
            }
            if (spinsDown(disk)) {
                keep(reader, disk, *listing);
            }
        }
    }
};

DiskSpinKeeper::DiskSpinKeeper(std::shared_ptr<LocalDisks> disks,
                               std::shared_ptr<UncachedReader> reader)
    : disks_(std::move(disks)), reader_(std::move(reader)), worker_(std::make_shared<Worker>()) {}

DiskSpinKeeper::~DiskSpinKeeper() {
    holding_->store(false);
    // A read can hang on a failing disk; quitting never waits for it. The queue's tasks own
    // what they use.
    if (io_) {
        std::thread([io = std::move(io_)]() mutable { io.reset(); }).detach();
    }
}

void DiskSpinKeeper::hold() {
    if (holds_++ > 0) {
        return;
    }
    if (!io_) {
        io_ = RunLoop::main().makeSerialQueue(kQueueName);
        io_->post([reader = reader_] { reader->lowerThreadPriority(); });
    }
    holding_->store(true);
    round();
    // Common: a modal dialog must not let the disks spin down.
    timer_ = RunLoop::main().every(
        kIntervalSeconds, [this] { round(); }, TimerMode::Common);
}

void DiskSpinKeeper::release() {
    if (holds_ == 0 || --holds_ > 0) {
        return;
    }
    holding_->store(false);
    timer_.cancel();
}

void DiskSpinKeeper::round() {
    io_->post([worker = worker_, disks = disks_, reader = reader_, holding = holding_] {
        if (holding->load()) {
            worker->round(*disks, *reader, *holding);
        }
    });
}

}  // namespace orvel
