#pragma once

#include <string>

#include "foundation/WakeHelperProtocol.h"
#include "platform/HelperConnection.h"

namespace orvel {

// The wake helper's socket: one connection per request, never waited on (the socket is
// non-blocking and watched by the run loop); no answer within the limit is an error.
class LinuxHelperConnection final : public HelperConnection {
  public:
    explicit LinuxHelperConnection(std::string socketPath = wake_protocol::kDefaultSocketPath,
                                   double replySeconds = 10.0)
        : socketPath_(std::move(socketPath)), replySeconds_(replySeconds) {}

    std::unique_ptr<HelperRequest> send(const std::vector<Date>& dates, Reply reply) override;

  private:
    std::string socketPath_;
    double replySeconds_;
};

}  // namespace orvel
