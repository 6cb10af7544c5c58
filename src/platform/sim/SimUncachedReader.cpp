#include "platform/sim/SimUncachedReader.h"

#include <algorithm>

namespace orvel {

void SimUncachedReader::lowerThreadPriority() {
    std::lock_guard lock(mutex_);
    ++priorityLowered_;
}

Result<std::vector<DirectoryEntry>> SimUncachedReader::listDirectory(std::string_view path) {
    std::lock_guard lock(mutex_);
    auto found = directories_.find(path);
    if (found == directories_.end()) {
        return Error{std::string(path) + " cannot be listed: not a folder"};
    }
    return found->second;
}

Result<UncachedRead> SimUncachedReader::readBlock(std::string_view target) {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        hook = hook_;
    }
    if (hook) {
        hook();
    }
    std::lock_guard lock(mutex_);
    if (auto failure = failures_.find(target); failure != failures_.end()) {
        return Error{failure->second};
    }
    auto size = sizes_.find(target);
    const std::uint64_t bytes = size == sizes_.end() ? kUncachedBlockSize : size->second;
    const std::uint64_t offset = uncachedReadOffset(bytes, random_);
    reads_.push_back(
        Record{std::string(target), offset, kUncachedBlockSize, UncachedReadPath::direct});
    const std::uint64_t read = std::min(kUncachedBlockSize, bytes - offset);
    return UncachedRead{offset, read, UncachedReadPath::direct};
}

void SimUncachedReader::setDirectory(const std::string& path, std::vector<DirectoryEntry> entries) {
    std::lock_guard lock(mutex_);
    directories_[path] = std::move(entries);
}

void SimUncachedReader::setFileSize(const std::string& path, std::uint64_t size) {
    std::lock_guard lock(mutex_);
    sizes_[path] = size;
}

void SimUncachedReader::failReads(const std::string& target, std::string reason) {
    std::lock_guard lock(mutex_);
    if (reason.empty()) {
        failures_.erase(target);
    } else {
        failures_[target] = std::move(reason);
    }
}

void SimUncachedReader::setRandom(std::uint64_t random) {
    std::lock_guard lock(mutex_);
    random_ = random;
}

void SimUncachedReader::setReadHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

std::vector<SimUncachedReader::Record> SimUncachedReader::reads() const {
    std::lock_guard lock(mutex_);
    return reads_;
}

int SimUncachedReader::priorityLowered() const {
    std::lock_guard lock(mutex_);
    return priorityLowered_;
}

}  // namespace orvel
