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
