#include "platform/sim/SimHelperConnection.h"

#include "foundation/RunLoop.h"

namespace orvel {

namespace {

class SimRequest final : public HelperRequest {
  public:
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

}  // namespace

std::unique_ptr<HelperRequest> SimHelperConnection::send(const std::vector<Date>& dates,
                                                         Reply reply) {
    sent_.push_back(dates);
    auto request = std::make_unique<SimRequest>();
    Result<std::int32_t> answer = std::int32_t{0};
    if (!scripted_.empty()) {
        answer = std::move(scripted_.front());
        scripted_.pop_front();
    }
    Pending pending{request->alive, std::move(reply), std::move(answer)};
    if (hold_) {
        held_.push_back(std::move(pending));
    } else {
        deliver(std::move(pending));
    }
    return request;
}

void SimHelperConnection::releaseReplies() {
    std::vector<Pending> held = std::move(held_);
    held_.clear();
    for (auto& pending : held) {
        deliver(std::move(pending));
    }
}

void SimHelperConnection::deliver(Pending pending) {
    RunLoop::main().async([pending = std::move(pending)] {
        if (!pending.alive.expired()) {
            pending.reply(pending.answer);
        }
    });
}

}  // namespace orvel
