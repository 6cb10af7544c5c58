#include "platform/sim/SimNetworkShares.h"

#include "foundation/RunLoop.h"

namespace orvel {

namespace {

class SimMountRequest final : public MountRequest {
  public:
    explicit SimMountRequest(std::shared_ptr<bool> dropped) : dropped_(std::move(dropped)) {}
    ~SimMountRequest() override { *dropped_ = true; }

  private:
    std::shared_ptr<bool> dropped_;
};

}  // namespace

std::unique_ptr<MountRequest> SimNetworkShares::mountAsync(const std::string& url,
                                                           const MountOptions& options,
                                                           MountCallback callback) {
    Request request;
    request.url = url;
    request.options = options;
    request.callback = std::move(callback);
    auto handle = std::make_unique<SimMountRequest>(request.dropped);
    requests_.push_back(std::move(request));
    return handle;
}

void SimNetworkShares::complete(std::size_t index, Result<void> result) {
    Request& request = requests_.at(index);
    if (request.completed) {
        return;
    }
    request.completed = true;
    RunLoop::main().async(
        [callback = std::move(request.callback), dropped = request.dropped, result] {
            if (!*dropped) {
                callback(result);
            }
        });
}

}  // namespace orvel
