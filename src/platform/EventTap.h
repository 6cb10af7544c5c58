#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

// An active tap on the session's keyboard and pointer events, which may drop or rewrite them.
// Threading: main thread only; the callback runs on the main thread.

namespace orvel {

struct CursorPoint {
    double x = 0;
    double y = 0;
    bool operator==(const CursorPoint&) const = default;
};

// One event as the tap sees it. `type` is the event type's raw value (10 key down, 5 mouse
// moved …); the deltas are the motion fields.
struct TapEvent {
    std::uint32_t type = 0;
    CursorPoint location;
    std::int64_t deltaX = 0;
    std::int64_t deltaY = 0;
    bool operator==(const TapEvent&) const = default;
};

namespace tap_event {
inline constexpr std::uint32_t kDisabledByTimeout = 0xFFFFFFFE;
inline constexpr std::uint32_t kDisabledByUserInput = 0xFFFFFFFF;
}  // namespace tap_event

// Returns the event (changed or not) to pass it on, or null to drop it.
using TapCallback = std::function<TapEvent*(std::uint32_t type, TapEvent* event)>;

// An installed tap; destroying it disables and removes it.
class EventTapHandle {
  public:
    virtual ~EventTapHandle() = default;
    virtual void setEnabled(bool enabled) = 0;
};

class EventTap {
  public:
    virtual ~EventTap() = default;
    // Installs an enabled tap at the head of the session for the event types whose bits
    // (1 << type) are in `mask`; null when the system refuses one.
    virtual std::unique_ptr<EventTapHandle> create(std::uint64_t mask, TapCallback callback) = 0;
};

// The pointer's position on screen.
class Cursor {
  public:
    virtual ~Cursor() = default;
    // None where the position cannot be read.
    virtual std::optional<CursorPoint> location() = 0;
    virtual void warp(CursorPoint point) = 0;
};

}  // namespace orvel
