#pragma once

#include <string>
#include <vector>

#include "platform/NetworkShares.h"

namespace orvel {

// Simulated share mounting: every request waits until the test completes it (or never).
class SimNetworkShares final : public NetworkShares {
  public:
    struct Request {
        std::string url;
        MountOptions options;
        MountCallback callback;
        bool completed = false;
    };

    void mountAsync(const std::string& url, const MountOptions& options,
                    MountCallback callback) override;

    // Control surface for tests.
    const std::vector<Request>& requests() const { return requests_; }
    // Ends request `index` with `result`; its callback runs on the next turn of the loop.
    void complete(std::size_t index, Result<void> result);

  private:
    std::vector<Request> requests_;
};

}  // namespace orvel
