#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/RunLoop.h"
#include "platform/LocalDisks.h"
#include "platform/UncachedReader.h"

namespace orvel {

class SerialQueue;

// Keeps every spinning local disk from spinning down while held: each one gets a 4 KiB read past
// the page cache, at an offset that varies so the drive's own cache cannot answer it, every
// kIntervalSeconds. A disk is read through its device node where this process may open it, else
// through a small file of Orvel's own in the user's cache folder where that is on the disk, else
// through the largest file near the top of one of its file systems that nobody else could have
// put there (see safeFile in the source). Never another user's file: one planted sparse would
// keep nothing spinning, and one swapped for a link would have Orvel read what it points to.
// A disk without any of these is named in the log and in unkeptDisks(). SSDs and removable
// media are left alone.
//
// Main thread only; the reads run on a serial worker queue at idle I/O priority. Nothing in the
// system is changed, so there is nothing to undo when the hold ends or the process dies.
class DiskSpinKeeper {
  public:
    // Reads rather than a standby timer set through udisks2: reads need no privilege and leave
    // nothing to put back after a crash. The interval is under the shortest standby timeout an
    // ATA drive can be given (5 s), so no timer a drive may have runs out between two reads.
    static constexpr double kIntervalSeconds = 4;
    // A disk that could not be read is tried again after this many rounds, not every round.
    static constexpr int kRetryRounds = 15;
    static constexpr const char* kQueueName = "orvel.disk-spin";
    // Orvel's own file, in `ownFolder`; written once, with bytes that are all on the disk.
    static constexpr const char* kOwnFileName = "disk-keep-alive";
    static constexpr std::uint64_t kOwnFileSize = 1 << 20;

    // `ownFolder`, the user's cache folder of Orvel's (as a path without links), holds Orvel's
    // own file for the disk it is on; empty: none.
    DiskSpinKeeper(std::shared_ptr<LocalDisks> disks, std::shared_ptr<UncachedReader> reader,
                   std::string ownFolder = {});
    ~DiskSpinKeeper();
    DiskSpinKeeper(const DiskSpinKeeper&) = delete;
    DiskSpinKeeper& operator=(const DiskSpinKeeper&) = delete;

    // Holds are counted: the reads run from the first hold until the last is released.
    void hold();
    void release();
    bool isHolding() const { return holds_ > 0; }

    // The disks that the reads cannot keep spinning while held, by the kernel's names: nothing
    // on them could be read (for want of access, or of a file that is safe to read). Known after
    // the first round; empty while nothing is held.
    const std::vector<std::string>& unkeptDisks() const { return unkept_->disks; }
    // Called on the main thread whenever unkeptDisks() changed.
    void setUnkeptHandler(std::function<void()> handler) { unkept_->changed = std::move(handler); }

    struct Worker;
    struct Unkept {
        std::vector<std::string> disks;
        std::function<void()> changed;
    };

  private:
    void round();

    std::shared_ptr<LocalDisks> disks_;
    std::shared_ptr<UncachedReader> reader_;
    std::shared_ptr<Worker> worker_;
    std::shared_ptr<SerialQueue> io_;
    // The worker's word reaches it only while the keeper lives.
    std::shared_ptr<Unkept> unkept_ = std::make_shared<Unkept>();
    // Read by the worker before each read: a round queued before the release reads nothing.
    std::shared_ptr<std::atomic<bool>> holding_ = std::make_shared<std::atomic<bool>>(false);
    Timer timer_;
    int holds_ = 0;
};

}  // namespace orvel
