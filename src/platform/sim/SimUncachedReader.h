#pragma once

#include <functional>
#include <map>
#include <mutex>
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
        bool operator==(const Record&) const = default;
    };

    void lowerThreadPriority() override;
    Result<std::vector<DirectoryEntry>> listDirectory(std::string_view path) override;
    Result<UncachedRead> readBlock(std::string_view target) override;

    // Control surface for tests. A folder without entries set cannot be listed; a target
    // without a size is a file of one block.
    void setDirectory(const std::string& path, std::vector<DirectoryEntry> entries);
    void setFileSize(const std::string& path, std::uint64_t size);
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
    std::uint64_t random_ = 0;
    std::function<void()> hook_;
    std::vector<Record> reads_;
    int priorityLowered_ = 0;
};

}  // namespace orvel
