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

Result<DirectoryEntry> SimUncachedReader::inspect(std::string_view path) {
    std::lock_guard lock(mutex_);
    if (auto set = entries_.find(path); set != entries_.end()) {
        return set->second;
    }
    const std::size_t slash = path.rfind('/');
    if (slash != std::string_view::npos) {
        const std::string_view folder = slash == 0 ? std::string_view("/") : path.substr(0, slash);
        if (auto listed = directories_.find(folder); listed != directories_.end()) {
            for (const DirectoryEntry& entry : listed->second) {
                if (entry.name == path.substr(slash + 1)) {
                    return entry;
                }
            }
        }
    }
    return Error{std::string(path) + " cannot be looked at: not there"};
}

Result<void> SimUncachedReader::keepFile(std::string_view path, std::uint64_t size) {
    std::lock_guard lock(mutex_);
    if (!keepFailure_.empty()) {
        return Error{keepFailure_};
    }
    if (std::find(kept_.begin(), kept_.end(), path) == kept_.end()) {
        kept_.emplace_back(path);
    }
    sizes_[std::string(path)] = size;
    return {};
}

void SimUncachedReader::setEntry(const std::string& path, DirectoryEntry entry) {
    std::lock_guard lock(mutex_);
    entries_[path] = std::move(entry);
}

void SimUncachedReader::failKeeping(std::string reason) {
    std::lock_guard lock(mutex_);
    keepFailure_ = std::move(reason);
}

std::vector<std::string> SimUncachedReader::keptFiles() const {
    std::lock_guard lock(mutex_);
    return kept_;
}

Result<UncachedRead> SimUncachedReader::readBlock(std::string_view target,
                                                  const TrustedFile* trusted) {
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
    reads_.push_back(Record{std::string(target), offset, kUncachedBlockSize,
                            UncachedReadPath::direct,
                            trusted ? std::optional<TrustedFile>(*trusted) : std::nullopt});
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
