#include "platform/linux/LinuxVolumes.h"

#include "foundation/Data.h"
#include "foundation/FileIO.h"
#include "foundation/Log.h"
#include "platform/linux/LinuxFiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace orvel {

namespace fs = std::filesystem;

namespace {

constexpr std::array kNetworkTypes{"cifs", "smb3", "nfs", "nfs4", "ceph", "fuse.sshfs"};
constexpr const char* kGvfsType = "fuse.gvfsd-fuse";
constexpr std::array kPseudoTypes{
    "autofs",   "binfmt_misc", "bpf",      "cgroup",  "cgroup2",    "configfs",   "debugfs",
    "devpts",   "devtmpfs",    "efivarfs", "fusectl", "hugetlbfs",  "mqueue",     "nsfs",
    "overlay",  "proc",        "pstore",   "ramfs",   "rpc_pipefs", "securityfs", "selinuxfs",
    "squashfs", "sysfs",       "tmpfs",    "tracefs", "fuse.portal"};
constexpr std::array kBrowsableFolders{"/media/", "/run/media/", "/mnt/"};

bool isOneOf(std::string_view value, const auto& list) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// The kernel writes space, tab, newline and backslash as three octal digits.
std::string decodeOctal(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const std::string_view digits = text.substr(i + 1, 3);
            if (digits.size() == 3 && std::all_of(digits.begin(), digits.end(),
                                                  [](char c) { return c >= '0' && c <= '7'; })) {
                out += static_cast<char>(((digits[0] - '0') << 6) | ((digits[1] - '0') << 3) |
                                         (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// udev writes unsafe characters of labels as \xHH.
std::string decodeHex(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(
                std::strtol(std::string(text.substr(i + 2, 2)).c_str(), nullptr, 16));
            i += 3;
            continue;
        }
        out += text[i];
    }
    return out;
}

// gvfs writes reserved characters of its key values as %HH.
std::string decodePercent(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(
                std::strtol(std::string(text.substr(i + 1, 2)).c_str(), nullptr, 16));
            i += 2;
            continue;
        }
        out += text[i];
    }
    return out;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            parts.push_back(text.substr(start));
            break;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool hasOption(std::string_view options, std::string_view option) {
    for (std::string_view o : split(options, ',')) {
        if (o == option) {
            return true;
        }
    }
    return false;
}

bool isWithin(std::string_view path, std::string_view folder) {
    if (folder == "/") {
        return !path.empty() && path.front() == '/';
    }
    return path == folder ||
           (path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/');
}

// "smb-share:server=nas,share=music,user=bob" as its keys and values.
std::map<std::string, std::string> gvfsKeys(std::string_view name) {
    std::map<std::string, std::string> keys;
    const std::size_t colon = name.find(':');
    if (colon == std::string_view::npos) {
        return keys;
    }
    keys["type"] = std::string(name.substr(0, colon));
    for (std::string_view pair : split(name.substr(colon + 1), ',')) {
        const std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos) {
            keys[std::string(pair.substr(0, equals))] = decodePercent(pair.substr(equals + 1));
        }
    }
    return keys;
}

std::optional<std::string> gvfsSource(const std::map<std::string, std::string>& keys) {
    auto type = keys.find("type");
    auto server = keys.find("server");
    auto share = keys.find("share");
    if (type == keys.end() || type->second != "smb-share" || server == keys.end() ||
        share == keys.end()) {
        return std::nullopt;
    }
    std::string source = "//";
    if (auto user = keys.find("user"); user != keys.end() && !user->second.empty()) {
        source += user->second + "@";
    }
    return source + server->second + "/" + share->second;
}

// Device names ("sdb1") and numbers ("8:17") that udev's links in `folder` point at, with
// their decoded link names.
struct DeviceLinks {
    std::map<std::string, std::string> byNumber;
    std::map<std::string, std::string> byName;
};

DeviceLinks readLinks(const std::string& folder, const std::string& sysRoot, bool hexEscapes) {
    DeviceLinks links;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(it->path(), linkError);
        if (linkError) {
            continue;
        }
        const std::string device = target.filename().string();
        const std::string raw = it->path().filename().string();
        const std::string value = hexEscapes ? decodeHex(raw) : raw;
        links.byName.emplace(device, value);
        if (auto number = readFile(sysRoot + "/class/block/" + device + "/dev")) {
            std::string text = stringFromData(*number);
            while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
                text.pop_back();
            }
            links.byNumber.emplace(text, value);
        }
    }
    return links;
}

std::optional<std::string> lookUp(const DeviceLinks& links, const LinuxVolumes::MountEntry& e) {
    if (auto found = links.byNumber.find(e.device); found != links.byNumber.end()) {
        return found->second;
    }
    if (e.source.starts_with("/dev/")) {
        const std::string device = fs::path(e.source).filename().string();
        if (auto found = links.byName.find(device); found != links.byName.end()) {
            return found->second;
        }
    }
    return std::nullopt;
}

bool exists(std::string_view path) {
    struct stat info {};
    return ::stat(std::string(path).c_str(), &info) == 0;
}

}  // namespace

// Shared with the workers: one stuck on a share that never answers cannot be joined, so it may
// outlive the volumes and must find the queue still there when it wakes.
struct LinuxVolumes::Listings {
    std::mutex mutex;
    std::deque<std::pair<std::string, std::function<void(bool)>>> waiting;
    int workers = 0;
    bool closed = false;

    // Lists until nothing waits; workers end when idle, so none is kept for a rare call.
    static void work(const std::shared_ptr<Listings>& listings) {
        std::unique_lock lock(listings->mutex);
        while (!listings->closed && !listings->waiting.empty()) {
            auto [path, done] = std::move(listings->waiting.front());
            listings->waiting.pop_front();
            lock.unlock();
            const FolderNames folder = listFolder(path);
            if (done) {
                done(folder.opened && folder.error == 0);
                done = nullptr;
            }
            lock.lock();
        }
        --listings->workers;
    }
};

LinuxVolumes::LinuxVolumes(LinuxVolumesOptions options)
    : options_(std::move(options)), listings_(std::make_shared<Listings>()) {
    if (options_.gvfsFolder.empty()) {
        if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
            options_.gvfsFolder = std::string(runtime) + "/gvfs";
        }
    }
}

std::optional<LinuxVolumes::MountEntry> LinuxVolumes::parseMountInfoLine(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::string_view f : split(line, ' ')) {
        if (!f.empty()) {
            fields.push_back(f);
        }
    }
    auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 10 || dash == fields.end() || dash - fields.begin() < 6 ||
        fields.end() - dash < 3) {
        return std::nullopt;
    }
    MountEntry e;
    e.device = std::string(fields[2]);
    e.mountPoint = decodeOctal(fields[4]);
    e.options = std::string(fields[5]);
    e.type = decodeOctal(*(dash + 1));
    e.source = decodeOctal(*(dash + 2));
    if (fields.end() - dash > 3) {
        e.superOptions = std::string(*(dash + 3));
    }
    return e;
}

bool LinuxVolumes::FstabEntry::hasOption(std::string_view option) const {
    return orvel::hasOption(options, option);
}

std::vector<LinuxVolumes::FstabEntry> LinuxVolumes::readFstab(const std::string& path) {
    std::vector<FstabEntry> entries;
    auto data = readFileIfPresent(path);
    if (!data || !*data) {
        return entries;
    }
    const std::string text = stringFromData(**data);
    for (std::string_view line : split(text, '\n')) {
        std::vector<std::string_view> fields;
        for (std::string_view field : split(line, ' ')) {
            for (std::string_view part : split(field, '\t')) {
                if (!part.empty()) {
                    fields.push_back(part);
                }
            }
        }
        if (fields.size() >= 4 && !fields[0].starts_with("#")) {
            entries.push_back(FstabEntry{decodeOctal(fields[0]), decodeOctal(fields[1]),
                                         std::string(fields[2]), std::string(fields[3])});
        }
    }
    return entries;
}

Result<std::vector<LinuxVolumes::MountEntry>> LinuxVolumes::readTable() const {
    auto data = readFile(options_.mountInfo);
    if (!data) {
        return Error{"enumeration failed: " + data.error().message};
    }
    std::vector<MountEntry> table;
    const std::string text = stringFromData(*data);
    for (std::string_view line : split(text, '\n')) {
        if (auto entry = parseMountInfoLine(line)) {
            table.push_back(std::move(*entry));
        }
    }
    if (table.empty()) {
        return Error{"enumeration failed: " + options_.mountInfo + " lists no mounts"};
    }
    return table;
}

const LinuxVolumes::MountEntry* LinuxVolumes::holding(const std::vector<MountEntry>& table,
                                                      std::string_view path) {
    const MountEntry* best = nullptr;
    for (const MountEntry& e : table) {
        if (isWithin(path, e.mountPoint) &&
            (best == nullptr || e.mountPoint.size() >= best->mountPoint.size())) {
            best = &e;
        }
    }
    return best;
}

bool LinuxVolumes::inGvfs(std::string_view path) const {
    return !options_.gvfsFolder.empty() && path != options_.gvfsFolder &&
           isWithin(path, options_.gvfsFolder);
}

Result<std::vector<VolumeInfo>> LinuxVolumes::mountedVolumes() {
    auto table = readTable();
    if (!table) {
        return table.error();
    }
    // A mount point mounted over keeps only its top mount, in the place of its first.
    std::vector<MountEntry> mounts;
    for (MountEntry& e : *table) {
        auto same = std::find_if(mounts.begin(), mounts.end(),
                                 [&](const MountEntry& m) { return m.mountPoint == e.mountPoint; });
        if (same != mounts.end()) {
            *same = std::move(e);
        } else {
            mounts.push_back(std::move(e));
        }
    }
    const DeviceLinks uuids =
        readLinks(options_.devRoot + "/disk/by-uuid", options_.sysRoot, false);
    const DeviceLinks labels =
        readLinks(options_.devRoot + "/disk/by-label", options_.sysRoot, true);
    std::set<std::string> hidden;  // from file managers, by the user's fstab
    for (const FstabEntry& entry : readFstab(options_.fstab)) {
        if (entry.hasOption("x-gvfs-hide")) {
            hidden.insert(entry.mountPoint);
        }
    }

    std::vector<VolumeInfo> volumes;
    for (const MountEntry& e : mounts) {
        if (e.type == kGvfsType) {
            // In name order, so the list does not change with the folder's own order.
            std::vector<fs::path> shares;
            std::error_code ec;
            for (fs::directory_iterator it(options_.gvfsFolder, ec), end; !ec && it != end;
                 it.increment(ec)) {
                shares.push_back(it->path());
            }
            std::sort(shares.begin(), shares.end());
            for (const fs::path& sharePath : shares) {
                const std::string name = sharePath.filename().string();
                auto keys = gvfsKeys(name);
                if (keys.empty()) {
                    continue;
                }
                VolumeInfo v;
                v.local = false;
                v.browsable = true;
                v.path = sharePath.string();
                if (auto share = keys.find("share"); share != keys.end()) {
                    v.name = share->second;
                } else if (auto host = keys.find("host"); host != keys.end()) {
                    v.name = host->second;
                }
                v.mountSource = gvfsSource(keys).value_or("");
                volumes.push_back(std::move(v));
            }
            continue;
        }
        const bool network = isOneOf(e.type, kNetworkTypes);
        if (!network && (isOneOf(e.type, kPseudoTypes) || e.type.starts_with("fuse.") ||
                         !e.source.starts_with("/"))) {
            continue;
        }
        if (e.mountPoint.starts_with("/snap/") || e.mountPoint.starts_with("/var/lib/snapd/") ||
            hasOption(e.options, "x-gvfs-hide") || hasOption(e.superOptions, "x-gvfs-hide") ||
            hidden.contains(e.mountPoint)) {
            continue;
        }
        VolumeInfo v;
        v.path = e.mountPoint;
        v.mountSource = e.source;
        v.local = !network;
        v.browsable =
            network || e.mountPoint == "/" ||
            std::any_of(kBrowsableFolders.begin(), kBrowsableFolders.end(),
                        [&](std::string_view folder) { return e.mountPoint.starts_with(folder); });
        if (!network) {
            v.uuid = lookUp(uuids, e);
            v.name = lookUp(labels, e);
            if (auto isRemovable = removable(e.source)) {
                v.internal = !*isRemovable;
            }
        }
        volumes.push_back(std::move(v));
    }
    return volumes;
}

std::optional<bool> LinuxVolumes::removable(std::string_view source) const {
    if (!source.starts_with("/dev/")) {
        return std::nullopt;
    }
    const std::string name = fs::path(std::string(source)).filename().string();
    if (name.empty() || name == "." || name == "..") {
        return std::nullopt;
    }
    const fs::path blocks = fs::path(options_.sysRoot) / "block";
    std::error_code ec;
    fs::path disk = blocks / name;
    if (!fs::is_directory(disk, ec)) {
        disk.clear();
        for (fs::directory_iterator it(blocks, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code inner;
            if (fs::is_directory(it->path() / name, inner)) {
                disk = it->path();
                break;
            }
        }
    }
    if (disk.empty()) {
        return std::nullopt;
    }
    auto text = readFileIfPresent((disk / "removable").string());
    if (!text || !text.value() || text.value()->empty()) {
        return std::nullopt;
    }
    const char flag = static_cast<char>(text.value()->front());
    if (flag != '0' && flag != '1') {
        return std::nullopt;
    }
    return flag == '1';
}

LinuxVolumes::~LinuxVolumes() {
    std::deque<std::pair<std::string, std::function<void(bool)>>> dropped;
    std::lock_guard lock(listings_->mutex);
    listings_->closed = true;
    dropped.swap(listings_->waiting);
}

void LinuxVolumes::listDirectory(const std::string& path, std::function<void(bool listed)> done) {
    // Few enough not to crowd the machine, enough that one dead share leaves the others listed.
    constexpr int kWorkers = 4;
    std::lock_guard lock(listings_->mutex);
    listings_->waiting.emplace_back(path, std::move(done));
    if (listings_->workers < kWorkers) {
        ++listings_->workers;
        std::thread([listings = listings_] { Listings::work(listings); }).detach();
    }
}

std::optional<std::string> LinuxVolumes::mountSource(std::string_view path) {
    if (inGvfs(path)) {
        const fs::path relative =
            fs::path(std::string(path)).lexically_relative(options_.gvfsFolder);
        return gvfsSource(gvfsKeys(relative.begin()->string()));
    }
    auto table = readTable();
    if (!table) {
        Logger("volumes").notice(table.error().message);
        return std::nullopt;
    }
    const MountEntry* entry = holding(*table, path);
    return entry ? std::optional<std::string>(entry->source) : std::nullopt;
}

bool LinuxVolumes::networkPathExists(std::string_view path) {
    if (!exists(path)) {
        return false;
    }
    if (inGvfs(path)) {
        return true;
    }
    auto table = readTable();
    if (!table) {
        // Nothing tells the share is gone; reading it will tell.
        Logger("volumes").notice(table.error().message);
        return true;
    }
    const MountEntry* entry = holding(*table, path);
    return entry != nullptr && (isOneOf(entry->type, kNetworkTypes) || entry->type == kGvfsType);
}

}  // namespace orvel
