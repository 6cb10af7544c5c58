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

// A subscription to sway's events, on a connection of its own: each event's type and payload go to
// `event` on the main loop for as long as the subscription lives, which may be destroyed from
// there. Where sway ends the connection, nothing more comes. Threading: main thread only.
class SwaySubscription {
  public:
    static constexpr std::uint32_t kSubscribe = 2;
    static constexpr std::uint32_t kWorkspaceEvent = 0x80000000;
    static constexpr std::uint32_t kWindowEvent = 0x80000003;
    using Event = std::function<void(std::uint32_t type, const std::string& payload)>;

    // `events`: the JSON list of event names, as sway's subscribe takes it.
    static Result<std::unique_ptr<SwaySubscription>> start(const std::string& socketPath,
                                                           std::string_view events, Event event);
    ~SwaySubscription();
    SwaySubscription(const SwaySubscription&) = delete;
    SwaySubscription& operator=(const SwaySubscription&) = delete;

  private:
    SwaySubscription() = default;
    void readable();

    UniqueFd socket_;
    std::string received_;
    Event event_;
    FdWatch watch_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace orvel
