#pragma once

#include "platform/UncachedReader.h"
#include "platform/linux/Xdg.h"

namespace orvel {

// Reads past the page cache with O_DIRECT into an aligned buffer. Where the file system refuses
// O_DIRECT, the file is read through the cache with its pages dropped before and after, so the
// read still reaches the device and leaves nothing cached. Nothing is ever opened for writing
// but Orvel's own file, which keepFile() writes once.
// Threading: any thread; the calls keep no state.
class LinuxUncachedReader final : public UncachedReader {
  public:
    // `direct` false always takes the cached read with dropped pages (for tests and figures).
    explicit LinuxUncachedReader(bool direct = true) : direct_(direct) {}

    // Where Orvel keeps its own file for keep-alive reads: <cache home>/orvel, with the links of
    // the part that exists resolved, so that the mount table tells which disk holds it.
    static std::string ownFolder(const xdg::Environment& env);

    // The idle I/O class for the calling thread: it gets the disk only when nobody else wants it.
    void lowerThreadPriority() override;
    std::uint32_t user() const override;
    Result<std::vector<DirectoryEntry>> listDirectory(std::string_view path) override;
    Result<DirectoryEntry> inspect(std::string_view path) override;
    Result<UncachedRead> readBlock(std::string_view target,
                                   const TrustedFile* trusted = nullptr) override;
    // Random bytes, written atomically: no file system keeps them as holes or compresses them.
    Result<void> keepFile(std::string_view path, std::uint64_t size) override;

  private:
    bool direct_;
};

}  // namespace orvel
