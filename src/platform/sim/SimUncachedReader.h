#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/UncachedReader.h"

namespace orvel {

// Simulated uncached reads: tests give folders their entries and files their sizes, make reads
// fail, and read back every read made. Safe from any thread.
class SimUncachedReader final : public UncachedReader {
  public:
    struct Record {
        std::string target;
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
        UncachedReadPath path = UncachedReadPath::direct;
        std::optional<TrustedFile> trusted;  // what the read was told to check
        bool operator==(const Record&) const = default;
    };

    // The simulated user's uid.
    static constexpr std::uint32_t kUser = 1000;

    void lowerThreadPriority() override;
    std::uint32_t user() const override { return kUser; }
    Result<std::vector<DirectoryEntry>> listDirectory(std::string_view path) override;
    // A path's entry in its folder's listing, or one set with setEntry.
    Result<DirectoryEntry> inspect(std::string_view path) override;
    // Checks nothing: the check is the real backend's; a read records what it was to check.
    Result<UncachedRead> readBlock(std::string_view target,
                                   const TrustedFile* trusted = nullptr) override;
    // Records the file as kept and gives it its size.
    Result<void> keepFile(std::string_view path, std::uint64_t size) override;

    // Control surface for tests. A folder without entries set cannot be listed; a target
    // without a size is a file of one block.
    void setDirectory(const std::string& path, std::vector<DirectoryEntry> entries);
    void setFileSize(const std::string& path, std::uint64_t size);
    // What inspect() says of `path` (for a folder no listing holds, such as a mount point).
    void setEntry(const std::string& path, DirectoryEntry entry);
    // keepFile() fails with `reason` (empty: it works again).
    void failKeeping(std::string reason);
    // The files keepFile() was asked for, once each.
    std::vector<std::string> keptFiles() const;
    // Reads of `target` fail with `reason` (an empty reason makes them work again).
    void failReads(const std::string& target, std::string reason);
    // The random number the next offsets are drawn with.
    void setRandom(std::uint64_t random);
    // Called inside every read before it is recorded, on the reading thread.
    void setReadHook(std::function<void()> hook);
    std::vector<Record> reads() const;
    int priorityLowered() const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::vector<DirectoryEntry>, std::less<>> directories_;
    std::map<std::string, std::uint64_t, std::less<>> sizes_;
    std::map<std::string, std::string, std::less<>> failures_;
    std::map<std::string, DirectoryEntry, std::less<>> entries_;
    std::string keepFailure_;
    std::vector<std::string> kept_;
    std::uint64_t random_ = 0;
    std::function<void()> hook_;
    std::vector<Record> reads_;
    int priorityLowered_ = 0;
};

}  // namespace orvel
