// The wake helper's socket input, from any local process: the bytes cut into frames as the
// helper cuts them, each frame answered by the helper's own dispatch (admission aside), with
// the alarm in memory. Every answer must be a reply the application can read, and a refused
// request must leave the kept dates alone; no request touches another user's.
#include "foundation/WakeHelperProtocol.h"
#include "wakehelper/Helper.h"

#include "FuzzSupport.h"

using namespace orvel;
namespace wp = wake_protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RecordingWakeScheduler rtc;
    Helper helper(rtc, "", [] { return Date::fromUnix(1781085600.0); });
    const Helper::Peer root{0, 1};
    const Helper::Peer peer{1000, 4242};
    const std::vector<Date> roots = {Date::fromUnix(1781089200.0)};
    helper.applyWakes(root, roots);
    std::string_view bytes = fuzz::text(data, size);
    wp::FrameReader reader;
    while (!bytes.empty()) {
        bytes.remove_prefix(reader.feed(bytes));
        if (reader.state() == wp::FrameReader::State::needMore) {
            break;
        }
        if (reader.state() == wp::FrameReader::State::badLength) {
            return 0;
        }
        fuzz::require(!reader.payload().empty() && reader.payload().size() <= wp::kMaxFrameLength,
                      "a frame's payload is within its bounds");
        const std::vector<Date> before = helper.scheduled(peer.uid);
        const Helper::Answer answer = helper.answer(reader.payload(), peer);
        const auto reply = wp::parseReply(answer.reply);
        fuzz::require(reply.ok(), "every answer is a reply the application reads");
        fuzz::require(wp::encodeFrame(answer.reply).size() <= 4 + wp::kMaxFrameLength,
                      "every answer fits in one frame");
        fuzz::require(helper.scheduled(peer.uid).size() <= wp::kMaxDates,
                      "at most 64 dates are kept");
        fuzz::require(helper.scheduled(root.uid) == roots, "another user's dates stay");
        if (answer.close) {
            fuzz::require(reply->status && *reply->status > 0, "a refusal carries its code");
            fuzz::require(helper.scheduled(peer.uid) == before,
                          "a refused request changes nothing");
            return 0;
        }
        fuzz::require(reply->version || reply->status == 0, "an accepted request succeeds");
        reader.reset();
    }
    return 0;
}
