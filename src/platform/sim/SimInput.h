#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/EventTap.h"
#include "platform/InputBlocking.h"

namespace orvel {

// The simulated machine's input: devices that type and move the pointer, the system's way of
// blocking (either, as the test chooses), an event tap and the cursor. Events a test sends run
// the way a real machine runs them: a switched-off device reports nothing; a watched device
// reports its value to the input thread first; then the tap sees the event when its type is in
// the mask; a passed motion moves the cursor.
class SimInput final : public InputBlocking, public EventTap, public Cursor {
  public:
    enum class Verdict { passed, rewritten, dropped, silenced };
    struct Record {
        std::uint64_t device = 0;
        std::uint32_t type = 0;
        Verdict verdict = Verdict::passed;
    };

    SimInput();
    ~SimInput() override;

    BlockingWay way() override { return way_; }
    InputHoldResult silence(const std::vector<HidDevice>& devices) override;
    InputHoldResult observe(const std::vector<HidDevice>& devices,
                            InputValueCallback onValue) override;
    std::unique_ptr<EventTapHandle> create(std::uint64_t mask, TapCallback callback) override;
    std::optional<CursorPoint> location() override;
    void warp(CursorPoint point) override;

    // Control surface for tests.
    void setWay(BlockingWay way) { way_ = way; }
    void failTap(bool fails) { failTap_ = fails; }
    void failOpen(std::uint64_t device) { failOpen_.insert(device); }
    void failSilence(std::uint64_t device) { failSilence_.insert(device); }
    // None: the position cannot be read (the cursor still moves).
    void setCursorReadable(bool readable) { cursorReadable_ = readable; }
    void setCursor(CursorPoint point) { cursor_ = point; }

    // A key, click, scroll or gesture of `type` from the device.
    Verdict send(std::uint64_t device, std::uint32_t type);
    // Pointer motion by (dx, dy) from the device; `type` 5 is a plain move.
    Verdict sendMotion(std::uint64_t device, double dx, double dy, std::uint32_t type = 5);
    // One input value of the device, as the device reports it (any thread).
    void sendValue(std::uint64_t device, std::uint32_t usagePage);
    // The system turns the tap off (it took too long).
    void disableTap();

    bool tapInstalled() const;
    bool tapEnabled() const;
    std::uint64_t tapMask() const;
    std::set<std::uint64_t> silenced() const;
    std::set<std::uint64_t> observed() const;
    CursorPoint cursor() const { return cursor_; }
    const std::vector<CursorPoint>& warps() const { return warps_; }
    const std::vector<Record>& records() const { return records_; }

    struct State;

  private:
    Verdict deliver(std::uint64_t device, TapEvent event);

    std::shared_ptr<State> state_;
    BlockingWay way_ = BlockingWay::tapWithCorrelation;
    bool failTap_ = false;
    std::set<std::uint64_t> failOpen_;
    std::set<std::uint64_t> failSilence_;
    bool cursorReadable_ = true;
    CursorPoint cursor_{500, 400};
    std::vector<CursorPoint> warps_;
    std::vector<Record> records_;
};

}  // namespace orvel
