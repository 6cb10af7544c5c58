#include "platform/sim/SimVolumes.h"

#include <algorithm>

namespace orvel {

Result<std::vector<VolumeInfo>> SimVolumes::mountedVolumes() {
    std::lock_guard lock(mutex_);
    ++enumerations_;
    if (fails_) {
        return Error{"enumeration failed: the simulated mount table is unreadable"};
    }
    return volumes_;
}

std::optional<std::string> SimVolumes::mountSource(std::string_view path) {
    std::lock_guard lock(mutex_);
    for (const VolumeInfo& v : volumes_) {
        if (v.path == path) {
            return v.mountSource;
        }
    }
    return std::nullopt;
}

bool SimVolumes::networkPathExists(std::string_view path) {
    std::lock_guard lock(mutex_);
    return std::any_of(volumes_.begin(), volumes_.end(),
                       [&](const VolumeInfo& v) { return v.path == path; });
}

void SimVolumes::listDirectory(const std::string& path, std::function<void(bool listed)> done) {
    Listing listing = Listing::listed;
    {
        std::lock_guard lock(mutex_);
        if (auto found = listings_.find(path); found != listings_.end()) {
            listing = found->second;
        }
        if (listing == Listing::hangs) {
            hung_.push_back(std::move(done));
            return;
        }
    }
    if (done) {
        done(listing == Listing::listed);
    }
}

void SimVolumes::setListing(const std::string& path, Listing listing) {
    std::lock_guard lock(mutex_);
    listings_[path] = listing;
}

void SimVolumes::releaseHungListings(bool listed) {
    std::vector<std::function<void(bool)>> hung;
    {
        std::lock_guard lock(mutex_);
        hung.swap(hung_);
    }
    for (auto& done : hung) {
        if (done) {
            done(listed);
        }
    }
}

std::size_t SimVolumes::hungListings() const {
    std::lock_guard lock(mutex_);
    return hung_.size();
}

void SimVolumes::setVolumes(std::vector<VolumeInfo> volumes) {
    std::lock_guard lock(mutex_);
    volumes_ = std::move(volumes);
}

void SimVolumes::mount(VolumeInfo volume) {
    std::lock_guard lock(mutex_);
    volumes_.push_back(std::move(volume));
}

void SimVolumes::unmount(const std::string& path) {
    std::lock_guard lock(mutex_);
    std::erase_if(volumes_, [&](const VolumeInfo& v) { return v.path == path; });
}

void SimVolumes::setEnumerationFails(bool fails) {
    std::lock_guard lock(mutex_);
    fails_ = fails;
}

int SimVolumes::enumerations() const {
    std::lock_guard lock(mutex_);
    return enumerations_;
}

}  // namespace orvel
