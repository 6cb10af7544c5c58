#include "platform/UncachedReader.h"

namespace orvel {

std::uint64_t uncachedReadOffset(std::uint64_t size, std::uint64_t random) {
    if (size <= kUncachedBlockSize) {
        return 0;
    }
    const std::uint64_t blocks = (size - kUncachedBlockSize) / kUncachedBlockSize + 1;
    return (random % blocks) * kUncachedBlockSize;
}

}  // namespace orvel
