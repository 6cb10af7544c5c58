#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "platform/linux/LayoutBox.h"
#include "platform/linux/SwayIpc.h"

namespace orvel {

// Puts a window of this process by the pointer on sway, which lets no client place its own
// window: sway floats it and centres it on the pointer, then it is moved to stand below the
// pointer (above it near the bottom), inside the usable area of the pointer's output. sway tells
// no client where its pointer is, and keeps the centred window inside the output: where that
// moved it off the pointer, the pointer is on the bar along that edge (a tray's click), and the
// window hangs from that bar. The window is known by its process and title; until sway holds it
// (it maps a moment after it is shown), it is asked for again, for a short while. Threading: main
// thread only.
class SwayWindowPlacement {
  public:
    using Box = LayoutBox;
    // The window, the area it may stand in and its output, as sway's tree holds them.
    struct Found {
        long long id = 0;
        Box window;
        Box area;
        Box output;
    };

    SwayWindowPlacement(std::string swaySocket, int pid);
    ~SwayWindowPlacement();
    SwayWindowPlacement(const SwayWindowPlacement&) = delete;
    SwayWindowPlacement& operator=(const SwayWindowPlacement&) = delete;

    // Whether sway answers on the socket named at construction ($SWAYSOCK).
    bool isAvailable() const;
    // Where the window went, and where each output lies.
    using Placed = std::function<void(const Box& window, const std::vector<LayoutOutput>& outputs)>;
    // Places the window titled `title` by the pointer, `gap` pixels off it, and tells `placed`
    // once sway has moved it; drops any earlier ask.
    void placeByPointer(const std::string& title, int gap, Placed placed = {});
    // Tells `lost` once sway gives the focus to another window or workspace than that of the
    // window last placed. An X client's own activation is not always told it under XWayland, so
    // sway's word is taken. Ends with cancel() and the next placing.
    void watchFocus(std::function<void()> lost);
    void cancel();

    // The window of `pid` titled `title` in sway's tree and the usable area of its workspace.
    static std::optional<Found> find(const Json& tree, int pid, const std::string& title);
    // The outputs in sway's tree.
    static std::vector<LayoutOutput> outputs(const Json& tree);
    // Where a window that sway centred on the pointer (inside the output) goes: below the
    // pointer, or above where there is no room below, and inside the usable area.
    static Box placed(const Found& centred, int gap);

  private:
    void ask();
    void askAgainOrGiveUp(const std::string& why);
    void readTree();
    void moveTo(const Found& found, std::vector<LayoutOutput> outputs);
    void send(std::uint32_t type, const std::string& payload, SwayRequest::Done done);

    std::string socket_;
    int pid_;
    std::string title_;
    int gap_ = 0;
    Placed placed_;
    double deadline_ = 0;
    std::unique_ptr<SwayRequest> request_;
    std::unique_ptr<SwaySubscription> focus_;
    Timer retry_;
    Logger log_{"ui"};
};

}  // namespace orvel
