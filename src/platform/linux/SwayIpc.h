#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "foundation/Result.h"
#include "foundation/RunLoop.h"
#include "platform/linux/UniqueFd.h"

namespace orvel {

// One request to sway over its IPC socket ($SWAYSOCK, in i3's framing), on a connection of its
// own. The answer's payload, or why there is none, goes to `done` once, on the main loop; the
// request may be destroyed from there, and destroying it earlier drops it unanswered.
// Threading: main thread only.
class SwayRequest {
  public:
    static constexpr std::uint32_t kRunCommand = 0;
    static constexpr std::uint32_t kGetOutputs = 3;
    static constexpr std::uint32_t kGetTree = 4;
    using Done = std::function<void(Result<std::string>)>;

    // Fails at once where the socket cannot be reached; else answers later through `done`.
    static Result<std::unique_ptr<SwayRequest>> send(const std::string& socketPath,
                                                     std::uint32_t type, std::string_view payload,
                                                     double limitSeconds, Done done);
    ~SwayRequest();
    SwayRequest(const SwayRequest&) = delete;
    SwayRequest& operator=(const SwayRequest&) = delete;

    static bool isSocket(const std::string& path);
    // Whether sway's answer to a run_command names no command it refused.
    static bool succeeded(std::string_view answer);

  private:
    SwayRequest() = default;
    void readable();
    void finish(Result<std::string> outcome);

    UniqueFd socket_;
    std::string answer_;
    Done done_;
    FdWatch watch_;
    Timer limit_;
};

}  // namespace orvel
