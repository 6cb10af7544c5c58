#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/NetworkShares.h"

namespace orvel {

// Simulated share mounting: every request waits until the test completes it (or never), or
// until its caller drops it.
class SimNetworkShares final : public NetworkShares {
  public:
    struct Request {
        std::string url;
        MountOptions options;
        MountCallback callback;
        bool completed = false;
        std::shared_ptr<bool> dropped = std::make_shared<bool>(false);

        // Whether the caller has let the request go.
        bool released() const { return *dropped; }
    };

    std::unique_ptr<MountRequest> mountAsync(const std::string& url, const MountOptions& options,
                                             MountCallback callback) override;
    std::optional<std::string> unavailableReason() const override { return unavailable_; }

    // Control surface for tests.
    const std::vector<Request>& requests() const { return requests_; }
    // Ends request `index` with `result`; its callback runs on the next turn of the loop if the
    // caller still holds the request then.
    void complete(std::size_t index, Result<void> result);
    void setUnavailableReason(std::optional<std::string> why) { unavailable_ = std::move(why); }

  private:
    std::vector<Request> requests_;
    std::optional<std::string> unavailable_;
};

}  // namespace orvel
