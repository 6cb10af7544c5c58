#include "platform/linux/LinuxLocalDisks.h"

#include "foundation/Data.h"
#include "foundation/FileIO.h"
#include "platform/linux/LinuxFiles.h"
#include "platform/linux/LinuxVolumes.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace orvel {

namespace {

// How deep holders stack: a partition, LUKS, LVM, and one to spare.
constexpr int kHolderDepth = 4;
// udev's links ("/dev/disk/by-uuid/…", "/dev/mapper/…") point straight at the device node.
constexpr int kLinkHops = 4;

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

// A disk's own device and everything on it, by kernel name and by "major:minor".
struct DiskParts {
    std::set<std::string> names;
    std::set<std::string> numbers;
};

void addWithHolders(const std::string& block, const std::string& folder, const std::string& name,
                    int depth, DiskParts& parts) {
    parts.names.insert(name);
    if (auto number = readSysfsAttribute(folder + "/dev")) {
        parts.numbers.insert(*number);
    }
    if (depth == 0) {
        return;
    }
    for (const std::string& holder : listFolder(folder + "/holders").names) {
        if (!parts.names.contains(holder)) {
            addWithHolders(block, block + "/" + holder, holder, depth - 1, parts);
        }
    }
}

}  // namespace

Result<LocalDiskListing> LinuxLocalDisks::localDisks() {
    const std::string block = options_.sysRoot + "/block";
    FolderNames listed = listFolder(block);
    if (!listed.opened) {
        return Error{"listing " + block +
                     " failed: " + std::generic_category().message(listed.error)};
    }
    std::sort(listed.names.begin(), listed.names.end());

    std::vector<LinuxVolumes::MountEntry> mounts;
    if (auto data = readFile(options_.mountInfo)) {
        const std::string text = stringFromData(*data);
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = std::min(text.find('\n', start), text.size());
            if (auto entry = LinuxVolumes::parseMountInfoLine(
                    std::string_view(text).substr(start, end - start))) {
                mounts.push_back(std::move(*entry));
            }
            start = end + 1;
        }
    }
    // The kernel's name of the device a mount's source stands for ("/dev/mapper/home" links to
    // "../dm-0"); btrfs gives its mounts numbers of their own, so the source is what tells.
    auto sourceName = [&](const std::string& source) -> std::string {
        if (!source.starts_with("/dev/")) {
            return {};
        }
        namespace fs = std::filesystem;
        fs::path path = options_.devRoot + source.substr(std::string_view("/dev").size());
        std::error_code error;
        for (int hops = 0; hops < kLinkHops && fs::is_symlink(path, error); ++hops) {
            const fs::path target = fs::read_symlink(path, error);
            path = target.is_absolute() ? target : path.parent_path() / target;
        }
        return path.filename().string();
    };

    LocalDiskListing listing;
    for (const auto& mount : mounts) {
        listing.allMountPoints.push_back(mount.mountPoint);
    }
    for (const std::string& name : listed.names) {
        const std::string folder = block + "/" + name;
        if (!exists(folder + "/device")) {
            continue;
        }
        if (auto type = readSysfsNumber<int>(folder + "/device/type");
            type && *type != 0 && *type != 14) {
            continue;
        }
        LocalDisk disk;
        disk.name = name;
        disk.devicePath = options_.devRoot + "/" + name;
        disk.rotational = readSysfsNumber<int>(folder + "/queue/rotational") == 1;
        disk.removable = readSysfsNumber<int>(folder + "/removable") == 1;
        DiskParts parts;
        addWithHolders(block, folder, name, kHolderDepth, parts);
        for (const std::string& entry : listFolder(folder).names) {
            if (exists(folder + "/" + entry + "/partition")) {
                addWithHolders(block, folder + "/" + entry, entry, kHolderDepth, parts);
            }
        }
        for (const auto& mount : mounts) {
            if (parts.numbers.contains(mount.device) ||
                parts.names.contains(sourceName(mount.source))) {
                disk.mountPoints.push_back(mount.mountPoint);
            }
        }
        listing.disks.push_back(std::move(disk));
    }
    return listing;
}

}  // namespace orvel
