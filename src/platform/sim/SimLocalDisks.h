#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/LocalDisks.h"

namespace orvel {

// Simulated disks: tests say which disks the machine has and can make the listing fail. Safe
// from any thread.
class SimLocalDisks final : public LocalDisks {
  public:
    Result<LocalDiskListing> localDisks() override {
        std::lock_guard lock(mutex_);
        if (failure_) {
            return Error{*failure_};
        }
        return listing_;
    }

    // Control surface for tests.
    void setDisks(std::vector<LocalDisk> disks, std::vector<std::string> allMountPoints = {}) {
        std::lock_guard lock(mutex_);
        listing_ = {std::move(disks), std::move(allMountPoints)};
    }
    // Listings fail with `reason` (none: they work again).
    void failListing(std::optional<std::string> reason) {
        std::lock_guard lock(mutex_);
        failure_ = std::move(reason);
    }

  private:
    mutable std::mutex mutex_;
    LocalDiskListing listing_;
    std::optional<std::string> failure_;
};

}  // namespace orvel
