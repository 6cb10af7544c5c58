#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Date.h"
#include "foundation/Result.h"

// The wake helper's socket protocol, shared by the helper and the application: frames of a
// 4-byte big-endian length (1 to 4096) followed by that many bytes of one JSON object.
//
//   {"op":"scheduleWakes","dates":[<seconds since 1970>, …]}  ->  {"status":<n>}
//   {"op":"ping"}                                               ->
//   {"version":"orvel-wake-helper 1.0"}
//
// A status of 0 is success, a negative one is the errno of a failed alarm write, and a positive
// one is one of the codes below, after which the helper closes the connection. Each user's
// request replaces that user's dates only (the user is the socket peer's, from the kernel).

namespace orvel::wake_protocol {

inline constexpr std::string_view kVersion = "orvel-wake-helper 1.0";
inline constexpr const char* kDefaultSocketPath = "/run/orvel-wake-helper/socket";
inline constexpr std::size_t kMaxFrameLength = 4096;
inline constexpr std::size_t kMaxDates = 64;
// Dates are whole or fractional seconds since 1970 in [0, 2^33].
inline constexpr double kMaxDateSeconds = 8589934592.0;
// A frame must be complete this long after the connection (or the previous frame).
inline constexpr double kFrameSeconds = 5.0;
inline constexpr std::size_t kMaxConnections = 8;

// Positive reply statuses: why a request was refused.
inline constexpr std::int32_t kStatusBadLength = 1;      // length 0 or over 4096
inline constexpr std::int32_t kStatusTruncated = 2;      // the peer ended the frame early
inline constexpr std::int32_t kStatusTimedOut = 3;       // no whole frame within 5 s
inline constexpr std::int32_t kStatusNotJson = 4;        // not one JSON object
inline constexpr std::int32_t kStatusUnknownOp = 5;      // "op" missing or not known
inline constexpr std::int32_t kStatusBadDates = 6;       // dates missing, not numbers, out of range
inline constexpr std::int32_t kStatusTooManyDates = 7;   // more than 64 dates
inline constexpr std::int32_t kStatusExtraMember = 8;    // a member the operation does not take
inline constexpr std::int32_t kStatusBusy = 9;           // already 8 connections
inline constexpr std::int32_t kStatusTooManyUsers = 10;  // dates kept for 16 other users

// The words for a status, for logs and for the user.
std::string describeStatus(std::int32_t status);

struct Request {
    enum class Op { scheduleWakes, ping };
    Op op = Op::ping;
    std::vector<Date> dates;
};

// The length prefix and the payload.
std::string encodeFrame(std::string_view payload);
std::string encodeScheduleWakes(const std::vector<Date>& dates);
std::string encodePing();
std::string encodeStatus(std::int32_t status);
std::string encodeVersion();

// A request's payload, or the positive status that refuses it.
Result<Request, std::int32_t> parseRequest(std::string_view payload);

// A reply's payload: the status, or the version text of a ping.
struct Reply {
    std::optional<std::int32_t> status;
    std::optional<std::string> version;
};
Result<Reply> parseReply(std::string_view payload);

// Collects bytes from a stream into frames.
class FrameReader {
  public:
    enum class State { needMore, frame, badLength };

    // Takes bytes; stops at the end of the first whole frame and says how many it used.
    std::size_t feed(std::string_view bytes);
    State state() const { return state_; }
    // The payload once state() is frame.
    const std::string& payload() const { return payload_; }
    // Whether any byte of an unfinished frame has arrived.
    bool started() const { return have_ > 0 || !payload_.empty(); }
    // Forgets the frame read, to read the next.
    void reset();

  private:
    State state_ = State::needMore;
    unsigned char header_[4] = {};
    std::size_t have_ = 0;
    std::size_t length_ = 0;
    std::string payload_;
};

}  // namespace orvel::wake_protocol
