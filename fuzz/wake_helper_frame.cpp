// The wake helper's socket input, from any local process: the bytes cut into frames as the
// helper cuts them, each frame answered by the helper's own dispatch (admission aside), with
// the alarm in memory. Every answer must be a reply the application can read, and a refused
// request must leave the kept dates alone.
#include "foundation/WakeHelperProtocol.h"
#include "wakehelper/Helper.h"

#include "FuzzSupport.h"

using namespace orvel;
namespace wp = wake_protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RecordingWakeScheduler rtc;
    Helper helper(rtc, "", [] { return Date::fromUnix(1781085600.0); });
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
        const std::vector<Date> before = helper.scheduled();
        const Helper::Answer answer = helper.answer(reader.payload());
        const auto reply = wp::parseReply(answer.reply);
        fuzz::require(reply.ok(), "every answer is a reply the application reads");
        fuzz::require(wp::encodeFrame(answer.reply).size() <= 4 + wp::kMaxFrameLength,
                      "every answer fits in one frame");
        fuzz::require(helper.scheduled().size() <= wp::kMaxDates, "at most 64 dates are kept");
        if (answer.close) {
            fuzz::require(reply->status && *reply->status > 0, "a refusal carries its code");
            fuzz::require(helper.scheduled() == before, "a refused request changes nothing");
            return 0;
        }
        fuzz::require(reply->version || reply->status == 0, "an accepted request succeeds");
        reader.reset();
    }
    return 0;
}
