#pragma once

#include "platform/UncachedReader.h"

namespace orvel {

// Reads past the page cache with O_DIRECT into an aligned buffer. Where the file system refuses
// O_DIRECT, the file is read through the cache with its pages dropped before and after, so the
// read still reaches the device and leaves nothing cached. Nothing is ever opened for writing.
// Threading: any thread; the calls keep no state.
class LinuxUncachedReader final : public UncachedReader {
  public:
    // `direct` false always takes the cached read with dropped pages (for tests and figures).
    explicit LinuxUncachedReader(bool direct = true) : direct_(direct) {}

    // The idle I/O class for the calling thread: it gets the disk only when nobody else wants it.
    void lowerThreadPriority() override;
    Result<std::vector<DirectoryEntry>> listDirectory(std::string_view path) override;
    Result<UncachedRead> readBlock(std::string_view target) override;

  private:
    bool direct_;
};

}  // namespace orvel
