#include "foundation/WakeHelperProtocol.h"

#include <cmath>
#include <cstring>

#include "foundation/Json.h"

namespace orvel::wake_protocol {

std::string describeStatus(std::int32_t status) {
    switch (status) {
        case 0:
            return "success";
        case kStatusBadLength:
            return "the frame's length is not between 1 and 4096";
        case kStatusTruncated:
            return "the frame ended early";
        case kStatusTimedOut:
            return "the frame did not arrive within 5 seconds";
        case kStatusNotJson:
            return "the frame is not one JSON object";
        case kStatusUnknownOp:
            return "the request names no known operation";
        case kStatusBadDates:
            return "the dates are not numbers of seconds between 1970 and 2242";
        case kStatusTooManyDates:
            return "the request holds more than 64 dates";
        case kStatusExtraMember:
            return "the request holds a member its operation does not take";
        case kStatusBusy:
            return "the helper is serving too many connections";
        case kStatusTooManyUsers:
            return "the helper already keeps wake dates for 16 other users";
        default:
            break;
    }
    if (status < 0) {
        return "the wake alarm could not be written: " + std::string(std::strerror(-status));
    }
    return "unknown status " + std::to_string(status);
}

std::string encodeFrame(std::string_view payload) {
    const auto n = static_cast<std::uint32_t>(payload.size());
    std::string frame;
    frame.reserve(4 + payload.size());
    frame.push_back(static_cast<char>((n >> 24) & 0xFF));
    frame.push_back(static_cast<char>((n >> 16) & 0xFF));
    frame.push_back(static_cast<char>((n >> 8) & 0xFF));
    frame.push_back(static_cast<char>(n & 0xFF));
    frame.append(payload);
    return frame;
}

namespace {

std::string compact(const Json& json) {
    auto text = dumpJson(json);
    return text.ok() ? text.value() : std::string("{}");
}

}  // namespace

std::string encodeScheduleWakes(const std::vector<Date>& dates) {
    Json array = Json::array();
    for (const Date date : dates) {
        array.push_back(date.unixTime());
    }
    return compact(Json{{"op", "scheduleWakes"}, {"dates", std::move(array)}});
}

std::string encodePing() {
    return compact(Json{{"op", "ping"}});
}

std::string encodeStatus(std::int32_t status) {
    return compact(Json{{"status", status}});
}

std::string encodeVersion() {
    return compact(Json{{"version", kVersion}});
}

Result<Request, std::int32_t> parseRequest(std::string_view payload) {
    auto parsed = parseJson(payload);
    if (!parsed.ok() || !parsed->is_object()) {
        return kStatusNotJson;
    }
    const Json& object = parsed.value();
    const auto op = object.find("op");
    if (op == object.end() || !op->is_string()) {
        return kStatusUnknownOp;
    }
    Request request;
    if (*op == "ping") {
        if (object.size() != 1) {
            return kStatusExtraMember;
        }
        return request;
    }
    if (*op != "scheduleWakes") {
        return kStatusUnknownOp;
    }
    request.op = Request::Op::scheduleWakes;
    const auto dates = object.find("dates");
    if (dates == object.end() || !dates->is_array()) {
        return kStatusBadDates;
    }
    if (object.size() != 2) {
        return kStatusExtraMember;
    }
    if (dates->size() > kMaxDates) {
        return kStatusTooManyDates;
    }
    for (const auto& element : *dates) {
        if (!element.is_number()) {
            return kStatusBadDates;
        }
        const double seconds = element.get<double>();
        if (!std::isfinite(seconds) || seconds < 0 || seconds > kMaxDateSeconds) {
            return kStatusBadDates;
        }
        request.dates.push_back(Date::fromUnix(seconds));
    }
    return request;
}

Result<Reply> parseReply(std::string_view payload) {
    auto parsed = parseJson(payload);
    if (!parsed.ok() || !parsed->is_object()) {
        return Error{"the wake helper's reply is not one JSON object"};
    }
    Reply reply;
    const Json& object = parsed.value();
    if (const auto status = object.find("status"); status != object.end()) {
        if (!status->is_number_integer() || status->get<std::int64_t>() < INT32_MIN ||
            status->get<std::int64_t>() > INT32_MAX) {
            return Error{"the wake helper's reply holds a status that is not a 32-bit integer"};
        }
        reply.status = static_cast<std::int32_t>(status->get<std::int64_t>());
    }
    if (const auto version = object.find("version"); version != object.end()) {
        if (!version->is_string()) {
            return Error{"the wake helper's reply holds a version that is not text"};
        }
        reply.version = version->get<std::string>();
    }
    if (!reply.status && !reply.version) {
        return Error{"the wake helper's reply holds neither a status nor a version"};
    }
    return reply;
}

std::size_t FrameReader::feed(std::string_view bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && state_ == State::needMore) {
        if (have_ < 4) {
            header_[have_++] = static_cast<unsigned char>(bytes[used++]);
            if (have_ == 4) {
                length_ = (std::size_t{header_[0]} << 24) | (std::size_t{header_[1]} << 16) |
                          (std::size_t{header_[2]} << 8) | std::size_t{header_[3]};
                if (length_ == 0 || length_ > kMaxFrameLength) {
                    state_ = State::badLength;
                }
            }
            continue;
        }
        const std::size_t take = std::min(length_ - payload_.size(), bytes.size() - used);
        payload_.append(bytes.substr(used, take));
        used += take;
        if (payload_.size() == length_) {
            state_ = State::frame;
        }
    }
    return used;
}

void FrameReader::reset() {
    state_ = State::needMore;
    have_ = 0;
    length_ = 0;
    payload_.clear();
}

}  // namespace orvel::wake_protocol
