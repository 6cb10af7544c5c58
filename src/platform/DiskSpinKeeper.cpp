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
constexpr std::uint32_t kOthersWrite = 0002;
constexpr std::uint32_t kGroupOrOthersWrite = 0022;

std::string joinPath(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

bool isWithin(const std::string& path, const std::string& folder) {
    return path == folder || folder == "/" ||
           (path.starts_with(folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

// The mount point of the file system that holds `path`: the deepest one above it.
std::string mountOf(const std::string& path, const std::vector<std::string>& mounts) {
    std::string best;
    for (const std::string& mount : mounts) {
        if (isWithin(path, mount) && mount.size() > best.size()) {
            best = mount;
        }
    }
    return best;
}

// A folder as the walk met it: whether others may put files in it, and whether only root may.
struct Folder {
    std::string path;
    bool rootOnly = false;
};

Folder folderOf(std::string path, const DirectoryEntry& entry) {
    return {std::move(path), entry.owner == 0 && (entry.mode & kGroupOrOthersWrite) == 0};
}

// Whether a file found in `folder` is one nobody but this user or root could have put there:
// the user's own, or root's where only root may write, never in a folder anyone may write to,
// and with all its blocks on the disk (the holes of a sparse file are read from no disk).
bool safeFile(const DirectoryEntry& file, const Folder& folder, const TrustedFile& trusted) {
    return file.regularFile && file.device == trusted.device && file.size > 0 &&
           !isSparse(file.size, file.allocated) &&
           (file.owner == trusted.user || (file.owner == 0 && folder.rootOnly));
}

// The largest safe file in the first folders of the file system mounted at `root`, without
// crossing into another mount or into a folder anyone may write to; none when it holds none.
std::optional<std::string> largestSafeFile(UncachedReader& reader, const std::string& root,
                                           const DirectoryEntry& rootEntry,
                                           const TrustedFile& trusted,
                                           const std::vector<std::string>& mounts) {
    if ((rootEntry.mode & kOthersWrite) != 0) {
        return std::nullopt;
    }
    std::deque<Folder> folders{folderOf(root, rootEntry)};
    std::optional<std::string> best;
    std::uint64_t bestSize = 0;
    for (int walked = 0; walked < kFoldersWalked && !folders.empty(); ++walked) {
        const Folder folder = std::move(folders.front());
        folders.pop_front();
        auto entries = reader.listDirectory(folder.path);
        if (!entries) {
            continue;
        }
        for (const DirectoryEntry& entry : *entries) {
            // Hidden files are mostly small bookkeeping, likely in a cache of some kind.
            if (entry.name.empty() || entry.name.front() == '.') {
                continue;
            }
            const std::string path = joinPath(folder.path, entry.name);
            if (entry.folder) {
                if (entry.device == trusted.device && (entry.mode & kOthersWrite) == 0 &&
                    std::find(mounts.begin(), mounts.end(), path) == mounts.end()) {
                    folders.push_back(folderOf(path, entry));
                }
            } else if (entry.size > bestSize && safeFile(entry, folder, trusted)) {
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
        std::optional<std::string> target;   // what read last time
        std::optional<TrustedFile> trusted;  // what the target must be, for a file
        int retryIn = 0;                     // rounds until an unreadable disk is tried again
        bool told = false;                   // its failure was logged
    };
    std::string ownFolder;
    std::map<std::string, Disk> disks;
    bool listingTold = false;
    // The unkept disks last told to the main thread.
    std::vector<std::string> toldUnkept;
    Logger log{"disks"};

    void forget() {
        toldUnkept.clear();
        for (auto& [name, disk] : disks) {
            disk.target.reset();
            disk.trusted.reset();
            disk.retryIn = 0;
        }
    }

    // Reads `target`; true when a byte came from the disk.
    static bool reads(UncachedReader& reader, const std::string& target,
                      const std::optional<TrustedFile>& trusted, std::string& why) {
        auto read = reader.readBlock(target, trusted ? &*trusted : nullptr);
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

    // Reads the disk through the first of its device, Orvel's own file and a safe file that
    // gives bytes, and keeps that one for the next rounds.
    bool choose(UncachedReader& reader, const LocalDisk& disk, const LocalDiskListing& listing,
                Disk& state, std::string& reasons) {
        std::string why;
        const auto attempt = [&](const std::string& target,
                                 const std::optional<TrustedFile>& trusted) {
            if (reads(reader, target, trusted, why)) {
                state.target = target;
                state.trusted = trusted;
                return true;
            }
            reasons += (reasons.empty() ? "" : "; ") + why;
            return false;
        };
        if (attempt(disk.devicePath, std::nullopt)) {
            return true;
        }
        const std::string ownMount =
            ownFolder.empty() ? std::string() : mountOf(ownFolder, listing.allMountPoints);
        std::vector<std::pair<std::string, TrustedFile>> roots;
        for (const std::string& mount : disk.mountPoints) {
            auto root = reader.inspect(mount);
            if (!root) {
                reasons += (reasons.empty() ? "" : "; ") + root.error().message;
                continue;
            }
            const TrustedFile trusted{root->device, reader.user()};
            if (mount == ownMount) {
                const std::string own = joinPath(ownFolder, kOwnFileName);
                if (auto kept = reader.keepFile(own, kOwnFileSize); !kept) {
                    reasons += (reasons.empty() ? "" : "; ") + kept.error().message;
                } else if (attempt(own, trusted)) {
                    return true;
                }
            }
            if (auto file =
                    largestSafeFile(reader, mount, *root, trusted, listing.allMountPoints)) {
                if (attempt(*file, trusted)) {
                    return true;
                }
            } else {
                reasons +=
                    (reasons.empty() ? "" : "; ") + std::string("no file in ") + mount +
                    " is Orvel's own or " +
                    (trusted.user == 0 ? std::string("root's")
                                       : "this user's (uid " + std::to_string(trusted.user) + ")") +
                    " and safe to read";
            }
        }
        return false;
    }

    // Keeps one disk spinning; false when nothing on it could be read.
    bool keep(UncachedReader& reader, const LocalDisk& disk, const LocalDiskListing& listing) {
        Disk& state = disks[disk.name];
        std::string why;
        if (state.target && reads(reader, *state.target, state.trusted, why)) {
            return true;
        }
        state.target.reset();
        state.trusted.reset();
        if (state.retryIn > 0) {
            --state.retryIn;
            return false;
        }
        std::string reasons;
        if (choose(reader, disk, listing, state, reasons)) {
            if (state.told) {
                log.notice("Keeping " + disk.name + " spinning again, by reading " + *state.target);
                state.told = false;
            }
            return true;
        }
        state.retryIn = kRetryRounds;
        if (!state.told) {
            state.told = true;
            log.notice(
                disk.name + " may spin down: nothing on it could be read (" +
                (disk.mountPoints.empty() ? "no file system of it is mounted; " : std::string()) +
                reasons + ")");
        }
        return false;
    }

    void round(LocalDisks& source, UncachedReader& reader,
               const std::shared_ptr<std::atomic<bool>>& holding,
               const std::weak_ptr<Unkept>& unkept) {
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
        std::vector<std::string> left;
        for (const LocalDisk& disk : listing->disks) {
            if (!holding->load()) {
                return;
            }
            if (spinsDown(disk) && !keep(reader, disk, *listing)) {
                left.push_back(disk.name);
            }
        }
        if (left != toldUnkept) {
            toldUnkept = left;
            RunLoop::main().async([unkept, holding, left = std::move(left)] {
                auto shared = unkept.lock();
                if (shared && holding->load() && shared->disks != left) {
                    shared->disks = left;
                    if (shared->changed) {
                        shared->changed();
                    }
                }
            });
        }
    }
};

DiskSpinKeeper::DiskSpinKeeper(std::shared_ptr<LocalDisks> disks,
                               std::shared_ptr<UncachedReader> reader, std::string ownFolder)
    : disks_(std::move(disks)), reader_(std::move(reader)), worker_(std::make_shared<Worker>()) {
    worker_->ownFolder = std::move(ownFolder);
}

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
    // Nothing is kept now, so nothing is left unkept; the next hold chooses and tells afresh.
    io_->post([worker = worker_] { worker->forget(); });
    if (!unkept_->disks.empty()) {
        unkept_->disks.clear();
        if (unkept_->changed) {
            unkept_->changed();
        }
    }
}

void DiskSpinKeeper::round() {
    io_->post([worker = worker_, disks = disks_, reader = reader_, holding = holding_,
               unkept = std::weak_ptr<Unkept>(unkept_)] {
        if (holding->load()) {
            worker->round(*disks, *reader, holding, unkept);
        }
    });
}

}  // namespace orvel
