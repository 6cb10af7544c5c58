#pragma once

#include <string>

#include "platform/LocalDisks.h"

namespace orvel {

struct LinuxLocalDisksOptions {
    std::string sysRoot = "/sys";  // block/*
    std::string devRoot = "/dev";  // device nodes, and what a mount's source links to
    std::string mountInfo = "/proc/self/mountinfo";
};

// The disks under <sys>/block that sit on hardware (a "device" link: loop, zram, device mapper,
// md, nbd and RAM disks have none) and are disks (a SCSI type of 0 or 14, where one is told),
// with their rotational and removable flags. A disk's mount points are those of the disk itself,
// its partitions and whatever is built on them (holders, such as an encrypted or LVM volume),
// matched by device number or by the mount's source. Every call reads afresh. Threading: any
// thread.
class LinuxLocalDisks final : public LocalDisks {
  public:
    explicit LinuxLocalDisks(LinuxLocalDisksOptions options = {}) : options_(std::move(options)) {}

    Result<LocalDiskListing> localDisks() override;

  private:
    LinuxLocalDisksOptions options_;
};

}  // namespace orvel
