#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Result.h"

// Reads that the page cache cannot answer, for keeping drives spun up. Threading: any thread;
// the calls wait on the disk, so they belong on a worker queue, never on the main thread.

namespace orvel {

// How much one keep-alive read asks for, and the alignment of its offset.
inline constexpr std::uint64_t kUncachedBlockSize = 4096;

struct DirectoryEntry {
    std::string name;
    bool regularFile = false;  // as the entry itself is (links are not followed)
    bool folder = false;       // likewise
    std::uint64_t size = 0;    // of a regular file
    bool operator==(const DirectoryEntry&) const = default;
};

// How the bytes were read: past the cache, or cached and then dropped from it.
enum class UncachedReadPath { direct, dropBehind };

struct UncachedRead {
    std::uint64_t offset = 0;
    std::uint64_t bytesRead = 0;
    UncachedReadPath path = UncachedReadPath::direct;
};

// The offset of one block in a file of `size` bytes: a multiple of the block size from 0 to
// size minus one block, chosen by `random` (any value; it is reduced uniformly enough for
// spreading reads). Files smaller than two blocks are read from 0.
std::uint64_t uncachedReadOffset(std::uint64_t size, std::uint64_t random);

class UncachedReader {
  public:
    virtual ~UncachedReader() = default;

    // Gives the calling thread the lowest I/O priority, so reads never compete with the user's.
    virtual void lowerThreadPriority() = 0;
    // The entries of a folder, in the order the file system gives them.
    virtual Result<std::vector<DirectoryEntry>> listDirectory(std::string_view path) = 0;
    // Opens `target` for reading only and reads one block at a random aligned offset past the
    // page cache; the error says which step failed and why.
    virtual Result<UncachedRead> readBlock(std::string_view target) = 0;
};

}  // namespace orvel
