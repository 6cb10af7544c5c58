#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Result.h"

// Mounting network shares. Threading: main thread only; the callback runs on the main thread.

namespace orvel {

struct MountOptions {
    bool allowSubMounts = true;
    bool softMount = true;  // a server that stops answering fails calls instead of hanging them
};

// Called exactly once per mount request, whatever becomes of it, unless the request is
// dropped first.
using MountCallback = std::function<void(Result<void>)>;

// One mount in progress. Dropping it abandons the mount: the mounter is stopped and the
// callback never runs.
class MountRequest {
  public:
    virtual ~MountRequest() = default;
};

class NetworkShares {
  public:
    virtual ~NetworkShares() = default;

    // Why most shares cannot be mounted here, as a catalogue key; nothing when they can.
    virtual std::optional<std::string> unavailableReason() const = 0;

    // Mounts the share at `url` ("smb://server/share") where the system chooses, with stored
    // credentials only: never a prompt. The callback always comes on a later turn of the loop,
    // and only while the returned request is kept.
    [[nodiscard]] virtual std::unique_ptr<MountRequest> mountAsync(const std::string& url,
                                                                   const MountOptions& options,
                                                                   MountCallback callback) = 0;
};

}  // namespace orvel
