#include "platform/sim/SimNetworkShares.h"

#include "foundation/RunLoop.h"

namespace orvel {

void SimNetworkShares::mountAsync(const std::string& url, const MountOptions& options,
                                  MountCallback callback) {
    requests_.push_back(Request{url, options, std::move(callback), false});
}

void SimNetworkShares::complete(std::size_t index, Result<void> result) {
    Request& request = requests_.at(index);
    if (request.completed) {
        return;
    }
    request.completed = true;
    RunLoop::main().async([callback = std::move(request.callback), result] { callback(result); });
}

}  // namespace orvel
