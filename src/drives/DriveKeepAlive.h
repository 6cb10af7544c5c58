#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/ServiceNeighbours.h"
#include "foundation/Date.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/Published.h"
#include "foundation/RawEnum.h"
#include "foundation/Result.h"
#include "foundation/RunLoop.h"
#include "foundation/WeakRef.h"
#include "platform/NetworkShares.h"
#include "platform/UncachedReader.h"

namespace orvel {

class SerialQueue;
class OrvelController;
class UserDefaults;
class Volumes;

// Keeps chosen drives and network shares from spinning down or timing out: every 15 seconds it
// reads one uncached block from each enabled drive whose interval has passed, follows the mounted
// volumes, and remounts network shares that dropped.
//
// Main thread only. Scans and reads run on the serial worker queue "orvel.drive-io" with copies
// of the drives; their results come back through the main loop, so the main thread never waits
// on a disk.
class DriveKeepAlive final : public ObservableObject,
                             public WeakReferenceable,
                             public SessionParticipant {
  public:
    enum class Lifecycle { always, whileOrvelSessionActive };

    // One kept-alive drive, stored in this order and with these keys under "drives.list".
    struct Drive {
        std::string id;  // the volume's UUID, or its mount path when it has none
        std::string name;
        std::string path;
        bool isNetwork = false;
        std::optional<std::string> remountURL;  // SMB shares only
        bool enabled = false;
        Lifecycle lifecycle = Lifecycle::whileOrvelSessionActive;
        std::optional<std::int64_t> intervalOverride;
        std::optional<Date> lastRead;
        bool offline = false;  // an enabled network share that is not mounted now

        Json toJson() const;
        // Strict: every key but remountURL, intervalOverride and lastRead is required, with
        // exactly its type; keys that are not listed are ignored.
        static Result<Drive> fromJson(const Json& json);
        bool operator==(const Drive&) const = default;
    };

    // One mounted volume as a scan reports it.
    struct Found {
        std::string id;
        std::string name;
        std::string path;
        bool isNetwork = false;
        std::optional<std::string> remountURL;
        bool operator==(const Found&) const = default;
    };

    static constexpr const char* kListKey = "drives.list";
    static constexpr const char* kIntervalKey = "drives.interval";
    // Where a stored list that did not decode whole is kept, as it was, before it is replaced.
    static constexpr const char* kUnreadableListKey = "drives.list.unreadable";
    static constexpr std::int64_t kDefaultIntervalSeconds = 180;
    static constexpr double kSchedulerPeriod = 15.0;
    static constexpr const char* kQueueName = "orvel.drive-io";
    // A remount that has not answered by then has failed; the drive's next due read tries again.
    static constexpr double kRemountLimitSeconds = 60;

    DriveKeepAlive(Volumes& volumes, UncachedReader& reader, NetworkShares& shares,
                   UserDefaults& defaults, std::function<OrvelController&()> controller);
    ~DriveKeepAlive() override;

    // Why a share that drops may not be mounted again here, as a catalogue key.
    std::optional<std::string> remountUnavailable() const { return shares_.unavailableReason(); }
    // The drive list, in display order.
    Published<std::vector<Drive>> drives{*this, {}};
    // Seconds between reads of a drive without its own interval; every assignment saves.
    Published<std::int64_t> globalIntervalSeconds;
    // Whether a session runs; follows the controller's starts and stops.
    ReadOnlyPublished<bool, DriveKeepAlive> sessionActive{*this, false};
    void sessionHolding() override { sessionActive = true; }
    void sessionStopped(const SessionEnd&) override { sessionActive = false; }

    // Drives whose remount is running, or who have no address to remount from.
    const std::set<std::string>& remountsInFlight() const { return remountsInFlight_; }

    bool anyDriveEnabled() const;
    // Replaces the drive with the edited one's id, saves, reads a drive just switched on, and
    // turns Prevent Disk Sleep off when this switched on the first drive. Unknown ids are ignored.
    void update(const Drive& edited);
    void save();
    // Forgets every drive and the interval, saving each step, then scans again (a settings reset).
    void resetToDefaults();
    // Lists the mounted volumes on the worker and merges them into the drive list.
    void rescan();
    // Reads the drive with this id at once (the Drives tab's "Read now", schedule rules).
    void readNow(const std::string& id);
    // Stamps the drive with this id as read now; does not save.
    void markRead(const std::string& id);
    // The scheduler's body: queues a read of every due drive.
    void tick();

    // The steps that run on the worker, public for benchmarks. They touch no field of the
    // service.
    static Result<std::vector<Found>> scanVolumes(Volumes& volumes);
    static std::optional<std::string> smbRemountURL(Volumes& volumes, std::string_view path);
    // Reads one block of the first regular file of the folder (else of the folder itself);
    // an error when no byte was read.
    static Result<UncachedRead> readOneFile(UncachedReader& reader, const std::string& path);

  private:
    void armScheduler();
    void load();
    void read(const Drive& drive, bool manual);
    void queueRead(const Drive& drive, bool manual);
    // On the worker: a share whose mount path is gone is remounted instead of read.
    static void probe(const WeakRef<DriveKeepAlive>& weakSelf, const Drive& drive, bool manual,
                      Volumes& volumes, UncachedReader& reader);
    void readFinished(const Drive& drive, bool manual, const Result<UncachedRead>& outcome);
    void applyScan(const Result<std::vector<Found>>& scan);
    void remount(const Drive& drive);
    void remountFinished(const std::string& id, const std::string& name,
                         const Result<void>& result);
    // Ends whatever remount the drive was under: its mount request is dropped.
    void releaseRemount(const std::string& id);

    struct RemountAttempt {
        std::unique_ptr<MountRequest> request;
        Timer limit;
    };

    std::shared_ptr<SerialQueue> io_;
    // The worker's tasks use the platform's pieces, which go right after this service: a task
    // runs only while the gate is open, and closing it waits for the one inside.
    class Gate {
      public:
        template <class Work>
        void run(Work&& work) {
            {
                std::lock_guard lock(mutex_);
                if (closed_) {
                    return;
                }
                ++running_;
            }
            work();
            {
                std::lock_guard lock(mutex_);
                --running_;
            }
            left_.notify_all();
        }
        // False when the task inside did not end within the limit.
        bool close(std::chrono::milliseconds limit) {
            std::unique_lock lock(mutex_);
            closed_ = true;
            return left_.wait_for(lock, limit, [this] { return running_ == 0; });
        }

      private:
        std::mutex mutex_;
        std::condition_variable left_;
        int running_ = 0;
        bool closed_ = false;
    };
    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
    Timer scheduler_;
    Subscription drivesWatch_;
    std::set<std::string> remountsInFlight_;
    std::map<std::string, RemountAttempt> remounts_;
    // Captured on the main thread: worker tasks never ask the platform for them.
    Volumes& volumes_;
    UncachedReader& reader_;
    NetworkShares& shares_;
    UserDefaults& defaults_;
    // Reached when first needed: the controller tells this service of its sessions.
    std::function<OrvelController&()> controller_;
    Logger log_{"drives"};
};

template <>
struct EnumTraits<DriveKeepAlive::Lifecycle> {
    using L = DriveKeepAlive::Lifecycle;
    static constexpr std::array<EnumCase<L>, 2> cases{{
        {L::always, "always", textKey("Always")},
        {L::whileOrvelSessionActive, "whileOrvelSessionActive", textKey("Only while Orvel is on")},
    }};
};

}  // namespace orvel
