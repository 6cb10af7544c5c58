#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "foundation/RunLoop.h"
#include "platform/HotKeys.h"

struct xcb_connection_t;

namespace orvel {

// Hot keys on X11: XGrabKey on the root window over a connection of our own (also grabbed with
// Caps Lock and Num Lock held, which X counts as modifiers), its events read on the main loop.
// Monitors of keys typed elsewhere watch XInput 2 raw events (X11KeyMonitor), grabbing nothing;
// keys typed in Orvel's own windows come from the toolkit through deliverLocalKey(). In a Wayland
// session, or without an X display, nothing is available, said once in the log.
class X11HotKeys final : public HotKeys {
  public:
    // `display` none: $DISPLAY.
    explicit X11HotKeys(std::optional<std::string> display = std::nullopt);
    ~X11HotKeys() override;

    std::optional<std::string> unavailableReason() override;
    std::unique_ptr<HotKeyToken> installHandler(std::function<void(std::uint32_t)>) override;
    std::unique_ptr<HotKeyToken> registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                std::uint32_t id) override;
    std::unique_ptr<HotKeyToken> addGlobalMonitor(std::function<void(const KeyPress&)>) override;
    std::unique_ptr<HotKeyToken> addLocalMonitor(std::function<bool(const KeyPress&)>) override;
    bool deliverLocalKey(const KeyPress& press) override;

    struct State;

  private:
    bool connect();

    std::optional<std::string> display_;
    std::shared_ptr<State> state_;
    bool tried_ = false;
    bool saidUnavailable_ = false;
};

}  // namespace orvel
