#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Volumes.h"

namespace orvel {

struct LinuxVolumesOptions {
    std::string mountInfo = "/proc/self/mountinfo";
    std::string devRoot = "/dev";  // disk/by-uuid and disk/by-label
    std::string sysRoot = "/sys";  // class/block/<device>/dev
    std::string fstab = "/etc/fstab";
    std::string gvfsFolder;  // where gvfs shows its shares; empty: $XDG_RUNTIME_DIR/gvfs
};

// Mounted volumes from the mount table, with UUIDs and labels from udev's links. Network
// shares are cifs, smb3, nfs, nfs4, ceph and sshfs mounts and the shares gvfs mounts in its FUSE
// folder. Browsable are the root, mounts under /media, /run/media and /mnt, and network shares;
// pseudo file systems, snaps and mounts marked x-gvfs-hide are left out. A local volume is
// internal unless sysfs calls its disk removable. Every call reads the table afresh. Threading: any
// thread.
class LinuxVolumes final : public Volumes {
  public:
    explicit LinuxVolumes(LinuxVolumesOptions options = {});
    // Listings not yet begun are dropped; one under way touches nothing of these volumes.
    ~LinuxVolumes() override;
    LinuxVolumes(const LinuxVolumes&) = delete;
    LinuxVolumes& operator=(const LinuxVolumes&) = delete;

    Result<std::vector<VolumeInfo>> mountedVolumes() override;
    // The source of the mount holding the path, as statfs would tell it.
    std::optional<std::string> mountSource(std::string_view path) override;
    // The path is there and the mount holding it is a network file system: a dropped share's
    // mount point stays behind on the file system below it.
    bool networkPathExists(std::string_view path) override;
    // On a few workers of its own, in the order asked, so a share that never answers holds up
    // one worker and never the caller.
    void listDirectory(const std::string& path, std::function<void(bool listed)> done) override;
    // Whether the disk under a device ("/dev/sdb1") is removable, from <sys>/block/*/removable
    // (a partition's disk is the folder holding it); nothing when sysfs does not say.
    std::optional<bool> removable(std::string_view source) const;

    // One line of /proc/self/mountinfo, escapes decoded.
    struct MountEntry {
        std::string device;  // "major:minor"
        std::string mountPoint;
        std::string options;
        std::string type;
        std::string source;
        std::string superOptions;
    };
    static std::optional<MountEntry> parseMountInfoLine(std::string_view line);

    // The entries of an fstab, escapes decoded; none when it cannot be read.
    struct FstabEntry {
        std::string device;  // what is mounted: a device, or a share as "//server/share"
        std::string mountPoint;
        std::string type;
        std::string options;
        bool hasOption(std::string_view option) const;
    };
    static std::vector<FstabEntry> readFstab(const std::string& path);

  private:
    Result<std::vector<MountEntry>> readTable() const;
    // The entry whose mount point holds `path` (the deepest, the last mounted when stacked).
    static const MountEntry* holding(const std::vector<MountEntry>& table, std::string_view path);
    bool inGvfs(std::string_view path) const;

    LinuxVolumesOptions options_;
    struct Listings;
    std::shared_ptr<Listings> listings_;
};

}  // namespace orvel
