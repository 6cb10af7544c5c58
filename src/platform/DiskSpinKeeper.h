#pragma once

#include <atomic>
#include <memory>

#include "foundation/RunLoop.h"
#include "platform/LocalDisks.h"
#include "platform/UncachedReader.h"

namespace orvel {

class SerialQueue;

// Keeps every spinning local disk from spinning down while held: each one gets a 4 KiB read past
// the page cache, at an offset that varies so the drive's own cache cannot answer it, every
// kIntervalSeconds. A disk is read through its device node where this process may open it,
// else through the largest file found near the top of one of its file systems. SSDs and
// removable media are left alone.
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

    DiskSpinKeeper(std::shared_ptr<LocalDisks> disks, std::shared_ptr<UncachedReader> reader);
    ~DiskSpinKeeper();
    DiskSpinKeeper(const DiskSpinKeeper&) = delete;
    DiskSpinKeeper& operator=(const DiskSpinKeeper&) = delete;

    // Holds are counted: the reads run from the first hold until the last is released.
    void hold();
    void release();
    bool isHolding() const { return holds_ > 0; }

    struct Worker;

  private:
    void round();

    std::shared_ptr<LocalDisks> disks_;
    std::shared_ptr<UncachedReader> reader_;
    std::shared_ptr<Worker> worker_;
    std::shared_ptr<SerialQueue> io_;
    // Read by the worker before each read: a round queued before the release reads nothing.
    std::shared_ptr<std::atomic<bool>> holding_ = std::make_shared<std::atomic<bool>>(false);
    Timer timer_;
    int holds_ = 0;
};

}  // namespace orvel
