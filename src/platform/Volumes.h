#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Result.h"

// Mounted volumes. Threading: any thread; the drive keep-alive asks from its worker queue, so
// these calls may wait on the file system and must never be made on the main thread. The one
// exception is listDirectory(), which never waits and may be called anywhere.

namespace orvel {

// One mounted volume as the system describes it; what the system does not know stays empty.
struct VolumeInfo {
    std::optional<std::string> uuid;
    std::optional<std::string> name;
    std::optional<bool> local;
    std::optional<bool> browsable;   // shown to the user as a place of its own
    std::string path;                // the mount point
    std::string mountSource;         // what it was mounted from: "/dev/sdb1", "//server/share"
    std::optional<bool> internal{};  // on a disk that is not removable
    bool operator==(const VolumeInfo&) const = default;
};

class Volumes {
  public:
    virtual ~Volumes() = default;

    // The mounted volumes, hidden ones left out, in the system's order; an error ("enumeration
    // failed: …") when the list cannot be read at all.
    virtual Result<std::vector<VolumeInfo>> mountedVolumes() = 0;
    // What the file system holding `path` was mounted from; nothing when it cannot be told.
    virtual std::optional<std::string> mountSource(std::string_view path) = 0;
    // Whether a network share is still there at its mount path. A share that dropped may leave
    // its (empty) mount point behind, which does not count.
    virtual bool networkPathExists(std::string_view path) = 0;
    // Lists the folder at `path` away from the caller's thread and calls done once, on any
    // thread, with whether it could be listed: late, or never when the file system never
    // answers. Returns at once.
    virtual void listDirectory(const std::string& path, std::function<void(bool listed)> done) = 0;
};

}  // namespace orvel
