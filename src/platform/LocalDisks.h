#pragma once

#include <string>
#include <vector>

#include "foundation/Result.h"

// The machine's own whole disks, for keeping them spinning. Threading: any thread; a listing
// reads the kernel's files, so it belongs on a worker queue.

namespace orvel {

struct LocalDisk {
    std::string name;        // the kernel's name, "sda"
    std::string devicePath;  // "/dev/sda"
    bool rotational = false;
    bool removable = false;  // media that comes and goes: card readers, optical drives
    // Where its file systems are mounted (also through device mapper, as for an encrypted one).
    std::vector<std::string> mountPoints;
    bool operator==(const LocalDisk&) const = default;
};

struct LocalDiskListing {
    std::vector<LocalDisk> disks;
    // Every mount point of the machine, so a walk of one file system stops where another begins.
    std::vector<std::string> allMountPoints;
};

// Whether a disk may spin down by itself and is ours to keep awake: a spinning one that stays.
inline bool spinsDown(const LocalDisk& disk) {
    return disk.rotational && !disk.removable;
}

class LocalDisks {
  public:
    virtual ~LocalDisks() = default;
    // The disks of this machine: no virtual devices (loop, zram, device mapper, RAM disks) and
    // nothing but disks (no optical drives); network shares are no disks.
    virtual Result<LocalDiskListing> localDisks() = 0;
};

}  // namespace orvel
