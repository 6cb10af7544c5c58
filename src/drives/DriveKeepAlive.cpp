#include "drives/DriveKeepAlive.h"

#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "foundation/Data.h"
#include "foundation/Localization.h"
#include "foundation/SerialQueue.h"
#include "platform/NetworkShares.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"

#include <algorithm>
#include <cctype>
#include <thread>

namespace orvel {

namespace {

std::string lastPathComponent(const std::string& path) {
    const std::size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) {
        return path.empty() ? path : "/";
    }
    const std::size_t slash = path.rfind('/', end);
    return path.substr(slash == std::string::npos ? 0 : slash + 1,
                       slash == std::string::npos ? end + 1 : end - slash);
}

// What the mounting service would accept as an address: a scheme, "://" and a host.
bool parsesAsURL(const std::string& text) {
    const std::size_t scheme = text.find("://");
    if (scheme == std::string::npos || scheme == 0 || scheme + 3 >= text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < scheme; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7F;
    });
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

void logActivity(std::string title, std::string detail) {
    ActivityLog::add(
        ActivityEntry::make(ActivityEntry::Kind::info, std::move(title), std::move(detail)));
}

}  // namespace

DriveKeepAlive::DriveKeepAlive(Volumes& volumes, UncachedReader& reader, NetworkShares& shares,
                               UserDefaults& defaults, std::function<OrvelController&()> controller)
    : globalIntervalSeconds(*this, kDefaultIntervalSeconds, [this] { save(); }),
      io_(RunLoop::main().makeSerialQueue(kQueueName)),
      volumes_(volumes),
      reader_(reader),
      shares_(shares),
      defaults_(defaults),
      controller_(std::move(controller)) {
    io_->post([reader = &reader_, gate = gate_] {
        gate->run([reader] { reader->lowerThreadPriority(); });
    });
    load();
    rescan();
    // The scheduler runs only while some drive is switched on: with none, no tick can read.
    drivesWatch_ = drives.subscribe([this](const std::vector<Drive>&) { armScheduler(); });
    armScheduler();
}

void DriveKeepAlive::armScheduler() {
    if (!anyDriveEnabled()) {
        scheduler_.cancel();
    } else if (!scheduler_) {
        scheduler_ = RunLoop::main().every(kSchedulerPeriod, [weakSelf = weakRef(*this)] {
            if (auto* self = weakSelf.get()) {
                self->tick();
            }
        });
    }
}

DriveKeepAlive::~DriveKeepAlive() {
    // Queued work that has not started yet never reaches the platform, which goes next; a read
    // under way is waited for, but not for long: one can hang on a share that stopped answering.
    if (!gate_->close(std::chrono::seconds(2))) {
        log_.notice("A drive read was still under way as Orvel stopped.");
    }
    // The queue is let go on a thread of its own so that quitting never waits for such a read.
    // What it posts back finds the service gone.
    std::thread([io = std::move(io_)]() mutable { io.reset(); }).detach();
}

bool DriveKeepAlive::anyDriveEnabled() const {
    return std::any_of(drives().begin(), drives().end(), [](const Drive& d) { return d.enabled; });
}

void DriveKeepAlive::load() {
    if (auto data = defaults_.dataForKey(kListKey)) {
        std::vector<Drive> decoded;
        std::size_t bad = 0;
        std::string firstFault;
        auto parsed = parseJson(stringFromData(*data));
        if (!parsed || !parsed->is_array()) {
            bad = 1;
            firstFault = parsed ? "the stored list is not a JSON array" : parsed.error().message;
        } else {
            for (const Json& element : *parsed) {
                auto drive = Drive::fromJson(element);
                if (drive) {
                    decoded.push_back(std::move(*drive));
                } else {
                    if (bad == 0) {
                        firstFault = drive.error().message;
                    }
                    ++bad;
                }
            }
        }
        if (bad > 0) {
            defaults_.setData(kUnreadableListKey, *data);
            log_.error("Skipped " + std::to_string(bad) +
                       " unreadable entries of the stored drive list (first: " + firstFault +
                       "); the stored data was copied to " + kUnreadableListKey);
        }
        drives = std::move(decoded);
    }
    const std::int64_t interval = defaults_.integerForKey(kIntervalKey);
    // 0 is also what a missing key reads as.
    if (interval > 0) {
        globalIntervalSeconds = interval;
    }
}

void DriveKeepAlive::save() {
    Json list = Json::array();
    for (const Drive& d : drives()) {
        list.push_back(d.toJson());
    }
    auto text = dumpJson(list);
    if (text) {
        defaults_.setData(kListKey, dataFromString(*text));
    } else {
        log_.error("The drive list could not be encoded (" + text.error().message +
                   "); the stored list was kept");
    }
    defaults_.setInteger(kIntervalKey, globalIntervalSeconds());
}

void DriveKeepAlive::resetToDefaults() {
    drives = {};
    save();
    globalIntervalSeconds = kDefaultIntervalSeconds;
    save();
    rescan();
}

void DriveKeepAlive::update(const Drive& edited) {
    auto list = drives();
    auto found =
        std::find_if(list.begin(), list.end(), [&](const Drive& d) { return d.id == edited.id; });
    if (found == list.end()) {
        return;
    }
    const bool wasAny = anyDriveEnabled();
    const bool oldEnabled = found->enabled;
    *found = edited;
    drives = std::move(list);
    save();
    // A drive just turned on is read at once: it may be spinning down already.
    if (edited.enabled && !oldEnabled) {
        read(edited, false);
    }
    // The global flag keeps every disk up; once a drive is chosen, only the chosen ones should be.
    if (!wasAny && anyDriveEnabled()) {
        if (controller_().stopPreventingDiskSleep()) {
            logActivity(localized("Prevent Disk Sleep turned off"),
                        localized("Per-drive keep-alive is replacing it"));
        }
    }
}

void DriveKeepAlive::markRead(const std::string& id) {
    auto list = drives();
    auto found = std::find_if(list.begin(), list.end(), [&](const Drive& d) { return d.id == id; });
    if (found == list.end()) {
        return;
    }
    found->lastRead = RunLoop::main().now();
    drives = std::move(list);
}

void DriveKeepAlive::tick() {
    const Date now = RunLoop::main().now();
    std::vector<Drive> due;
    for (const Drive& d : drives()) {
        if (!d.enabled) {
            continue;
        }
        if (d.lifecycle == Lifecycle::whileOrvelSessionActive && !sessionActive()) {
            continue;
        }
        const double interval =
            static_cast<double>(d.intervalOverride.value_or(globalIntervalSeconds()));
        if (!d.lastRead || interval <= now.timeIntervalSince(*d.lastRead)) {
            due.push_back(d);
        }
    }
    if (due.empty()) {
        return;
    }
    // One stamp for each due drive, published once: a tick costs the main thread one list copy.
    auto list = drives();
    for (const Drive& d : due) {
        auto found = std::find_if(list.begin(), list.end(),
                                  [&](const Drive& other) { return other.id == d.id; });
        found->lastRead = now;
    }
    drives = std::move(list);
    for (const Drive& d : due) {
        queueRead(d, false);
    }
}

void DriveKeepAlive::readNow(const std::string& id) {
    const auto& list = drives();
    auto found = std::find_if(list.begin(), list.end(), [&](const Drive& d) { return d.id == id; });
    if (found != list.end()) {
        read(Drive(*found), true);
    }
}

void DriveKeepAlive::read(const Drive& drive, bool manual) {
    markRead(drive.id);
    queueRead(drive, manual);
}

void DriveKeepAlive::queueRead(const Drive& drive, bool manual) {
    io_->post(
        [weakSelf = weakRef(*this), drive, manual, volumes = &volumes_, reader = &reader_,
         gate = gate_] { gate->run([&] { probe(weakSelf, drive, manual, *volumes, *reader); }); });
}

void DriveKeepAlive::probe(const WeakRef<DriveKeepAlive>& weakSelf, const Drive& drive, bool manual,
                           Volumes& volumes, UncachedReader& reader) {
    if (drive.isNetwork && !volumes.networkPathExists(drive.path)) {
        RunLoop::main().async([weakSelf, drive] {
            if (auto* self = weakSelf.get()) {
                self->remount(drive);
            }
        });
        return;
    }
    auto outcome = readOneFile(reader, drive.path);
    RunLoop::main().async([weakSelf, drive, manual, outcome = std::move(outcome)] {
        if (auto* self = weakSelf.get()) {
            self->readFinished(drive, manual, outcome);
        }
    });
}

Result<UncachedRead> DriveKeepAlive::readOneFile(UncachedReader& reader, const std::string& path) {
    // A visible file's data lives on the disk; a folder's entries and hidden bookkeeping files
    // are likely still in a cache and would not wake it.
    std::string target = path;
    if (auto entries = reader.listDirectory(path)) {
        for (const DirectoryEntry& entry : *entries) {
            if (entry.regularFile && !entry.name.empty() && entry.name.front() != '.') {
                target = joinPath(path, entry.name);
                break;
            }
        }
    }
    auto read = reader.readBlock(target);
    // An empty file touches no block of the disk, so it cannot keep it awake.
    if (read && read->bytesRead == 0) {
        return Error{target + " gave no bytes"};
    }
    return read;
}

void DriveKeepAlive::readFinished(const Drive& drive, bool manual,
                                  const Result<UncachedRead>& outcome) {
    // The interval counts from the end of a read, so a slow disk is not asked again at once.
    markRead(drive.id);
    if (!outcome) {
        log_.notice("Keep-alive read of " + drive.name +
                    " read nothing: " + outcome.error().message);
    }
    if (manual) {
        logActivity(localizedFormat("Read %@", {drive.name}),
                    outcome ? localized("Manual keep-alive read")
                            : localizedFormat("Manual keep-alive read failed: %@",
                                              {outcome.error().message}));
    }
    save();
}

void DriveKeepAlive::rescan() {
    io_->post([weakSelf = weakRef(*this), volumes = &volumes_, gate = gate_] {
        gate->run([&] {
            auto scan = scanVolumes(*volumes);
            RunLoop::main().async([weakSelf, scan = std::move(scan)] {
                if (auto* self = weakSelf.get()) {
                    self->applyScan(scan);
                }
            });
        });
    });
}

Result<std::vector<DriveKeepAlive::Found>> DriveKeepAlive::scanVolumes(Volumes& volumes) {
    auto listed = volumes.mountedVolumes();
    if (!listed) {
        return listed.error();
    }
    std::vector<Found> found;
    for (const VolumeInfo& v : *listed) {
        // Only what a user can pick: system mounts (proc, sys, snaps) are not browsable.
        if (!v.browsable.value_or(false)) {
            continue;
        }
        if (!isValidUTF8(v.path)) {
            // A path that cannot be written down cannot be stored or shown.
            Logger("drives").notice("A volume whose mount path is not valid UTF-8 was left out");
            continue;
        }
        Found f;
        // Shares have no UUID; their mount path is the one thing that stays the same.
        f.id = v.uuid ? replacingInvalidUTF8(*v.uuid) : v.path;
        f.name = replacingInvalidUTF8(v.name ? *v.name : lastPathComponent(v.path));
        f.path = v.path;
        // A volume of unknown kind is never remounted: taken as local.
        const bool local = v.local.value_or(true);
        f.isNetwork = !local;
        if (!local) {
            f.remountURL = smbRemountURL(volumes, v.path);
        }
        found.push_back(std::move(f));
    }
    return found;
}

std::optional<std::string> DriveKeepAlive::smbRemountURL(Volumes& volumes, std::string_view path) {
    auto source = volumes.mountSource(path);
    if (!source || !source->starts_with("//")) {
        return std::nullopt;
    }
    return "smb:" + *source;
}

void DriveKeepAlive::applyScan(const Result<std::vector<Found>>& scan) {
    if (!scan) {
        log_.error("The volume scan failed (" + scan.error().message +
                   "); the drive list was left as it was");
        return;
    }
    std::set<std::string> seen;
    auto list = drives();
    for (const Found& f : *scan) {
        seen.insert(f.id);
        // Mounted, by whatever means: a remount still pending has nothing left to do, and a
        // later drop must be able to start another.
        releaseRemount(f.id);
        auto known =
            std::find_if(list.begin(), list.end(), [&](const Drive& d) { return d.id == f.id; });
        if (known != list.end()) {
            known->path = f.path;
            known->name = f.name;
            if (known->offline) {
                known->offline = false;
                logActivity(localizedFormat("%@ back online", {f.name}),
                            localized("Keep-alive resumed"));
            }
        } else {
            Drive added;
            added.id = f.id;
            added.name = f.name;
            added.path = f.path;
            added.isNetwork = f.isNetwork;
            added.remountURL = f.remountURL;
            list.push_back(std::move(added));
        }
    }
    // An enabled share that dropped stays, offline, to be remounted; anything else gone is
    // forgotten.
    std::erase_if(
        list, [&](const Drive& d) { return !seen.contains(d.id) && !(d.enabled && d.isNetwork); });
    for (Drive& d : list) {
        if (!seen.contains(d.id)) {
            d.offline = true;
        }
    }
    drives = std::move(list);
    save();
}

void DriveKeepAlive::remount(const Drive& drive) {
    // Every due tick finds a dropped share again; one mount at a time per share.
    if (remountsInFlight_.contains(drive.id)) {
        return;
    }
    remountsInFlight_.insert(drive.id);
    auto list = drives();
    auto found =
        std::find_if(list.begin(), list.end(), [&](const Drive& d) { return d.id == drive.id; });
    if (found != list.end()) {
        found->offline = true;
        drives = std::move(list);
    }
    if (!drive.remountURL || !parsesAsURL(*drive.remountURL)) {
        log_.notice(drive.name +
                    " is gone and has no address to remount it from; it stays "
                    "offline until it is mounted again");
        return;
    }
    logActivity(localizedFormat("%@ unmounted", {drive.name}),
                localized("Remounting automatically"));
    auto weakSelf = weakRef(*this);
    RemountAttempt& attempt = remounts_[drive.id];
    attempt.request = shares_.mountAsync(
        *drive.remountURL, MountOptions{},
        [weakSelf, id = drive.id, name = drive.name](const Result<void>& result) {
            if (auto* self = weakSelf.get()) {
                self->remountFinished(id, name, result);
            }
        });
    // A mounter that never answers must not keep the share from every later attempt.
    attempt.limit = RunLoop::main().after(
        kRemountLimitSeconds,
        [weakSelf, id = drive.id, name = drive.name] {
            if (auto* self = weakSelf.get()) {
                self->remountFinished(id, name,
                                      Error{"no answer within " +
                                            std::to_string(static_cast<int>(kRemountLimitSeconds)) +
                                            " s; the mount was abandoned"});
            }
        },
        TimerMode::Common);
}

void DriveKeepAlive::remountFinished(const std::string& id, const std::string& name,
                                     const Result<void>& result) {
    if (!result) {
        log_.notice("Remounting " + name + " failed: " + result.error().message);
    }
    releaseRemount(id);
    rescan();
}

void DriveKeepAlive::releaseRemount(const std::string& id) {
    remountsInFlight_.erase(id);
    remounts_.erase(id);
}

}  // namespace orvel
