#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/HelperConnection.h"

namespace orvel {

// A simulated wake helper: records every list sent and answers each on a later turn, with 0
// unless a reply was scripted; replies can be held back until the test lets them go.
class SimHelperConnection final : public HelperConnection {
  public:
    std::unique_ptr<HelperRequest> send(const std::vector<Date>& dates, Reply reply) override;

    // Control surface for tests.
    const std::vector<std::vector<Date>>& sent() const { return sent_; }
    // The next requests are answered with these, in order.
    void scriptReply(Result<std::int32_t> reply) { scripted_.push_back(std::move(reply)); }
    // While held, replies wait for releaseReplies().
    void holdReplies(bool hold) { hold_ = hold; }
    void releaseReplies();
    std::size_t heldReplies() const { return held_.size(); }

  private:
    struct Pending {
        std::weak_ptr<bool> alive;
        Reply reply;
        Result<std::int32_t> answer;
    };
    void deliver(Pending pending);

    std::vector<std::vector<Date>> sent_;
    std::deque<Result<std::int32_t>> scripted_;
    bool hold_ = false;
    std::vector<Pending> held_;
};

}  // namespace orvel
