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
    // Whether a keep-alive may trust it, as the entry itself tells.
    std::uint64_t allocated = 0;  // bytes the file system holds for it (st_blocks × 512)
    std::uint32_t owner = 0;      // its uid
    std::uint32_t mode = 0;       // its permission bits
    std::uint64_t device = 0;     // the file system it is on (st_dev)
    bool operator==(const DirectoryEntry&) const = default;
};

// Whether a file's holes could answer reads: more of it is missing than its last block. Reads
// of holes never reach the disk.
inline bool isSparse(std::uint64_t size, std::uint64_t allocated) {
    return allocated + kUncachedBlockSize < size;
}

// What a file read to keep a disk spinning must still be when it is opened, checked on the open
// descriptor, so that a name swapped for a link or another file since it was chosen is refused:
// a regular file on `device`, this user's or root's, not sparse. The name is not followed when
// it is a link.
struct TrustedFile {
    std::uint64_t device = 0;
    std::uint32_t user = 0;
    bool operator==(const TrustedFile&) const = default;
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
    // The user whose files may be read to keep disks spinning: this process's.
    virtual std::uint32_t user() const = 0;
    // The entries of a folder, in the order the file system gives them.
    virtual Result<std::vector<DirectoryEntry>> listDirectory(std::string_view path) = 0;
    // The entry of `path` itself, as its folder would list it.
    virtual Result<DirectoryEntry> inspect(std::string_view path) = 0;
    // Opens `target` for reading only and reads one block at a random aligned offset past the
    // page cache; the error says which step failed and why. With `trusted`, a file that is not
    // (or no longer) what it says is refused before anything is read.
    virtual Result<UncachedRead> readBlock(std::string_view target,
                                           const TrustedFile* trusted = nullptr) = 0;
    // Makes sure that Orvel's own file for keep-alive reads is at `path`: a regular file of this
    // user's, of `size` bytes that are all on the disk. Written once (folders made as needed, for
    // this user only); one that is there already is left as it is.
    virtual Result<void> keepFile(std::string_view path, std::uint64_t size) = 0;
};

}  // namespace orvel
