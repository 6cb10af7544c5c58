#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Signal.h"

// System-wide keyboard shortcuts: registered hot keys (no permission needed) and key-down
// monitors (need both input permissions). Key codes are the C key's 8 and its neighbours';
// hot-key modifiers are command 0x0100, shift 0x0200, caps lock 0x0400, option 0x0800, control
// 0x1000; monitor flags are caps lock 0x10000, shift 0x20000, control 0x40000, option 0x80000,
// command 0x100000. Threading: main thread only; handlers and monitors run on the main thread.

namespace orvel {

struct KeyPress {
    std::uint16_t keyCode = 0;
    std::uint64_t modifierFlags = 0;
};

// A registration, handler or monitor; destroying it removes it.
class HotKeyToken {
  public:
    virtual ~HotKeyToken() = default;
};

class HotKeys {
  public:
    virtual ~HotKeys() = default;

    // Why the system offers no hot keys; none while it does (or has not answered yet).
    virtual std::optional<std::string> unavailableReason() = 0;
    // The keys the desktop says it bound a registered hot key to, in its own words; none where
    // the desktop binds exactly what was asked and says nothing.
    virtual std::optional<std::string> boundTrigger() { return std::nullopt; }
    // Sent when unavailableReason() or boundTrigger() changes.
    Signal<> changed;
    // Receives the id of each registered hot key pressed. Only the newest handler is told.
    virtual std::unique_ptr<HotKeyToken> installHandler(std::function<void(std::uint32_t id)>) = 0;
    // Registers the combination under `id`; null when the system offers none (a combination
    // another program holds registers but never fires).
    virtual std::unique_ptr<HotKeyToken> registerHotKey(std::uint32_t keyCode,
                                                        std::uint32_t modifiers,
                                                        std::uint32_t id) = 0;
    // Key downs typed in other applications; null when the system refuses a monitor.
    virtual std::unique_ptr<HotKeyToken> addGlobalMonitor(std::function<void(const KeyPress&)>) = 0;
    // Key downs typed in Orvel's own windows; the monitor returns true to consume the key.
    virtual std::unique_ptr<HotKeyToken> addLocalMonitor(std::function<bool(const KeyPress&)>) = 0;
    // A key down in one of Orvel's windows, handed over by the UI toolkit; true when a local
    // monitor consumed it (the window must not get it then).
    virtual bool deliverLocalKey(const KeyPress&) { return false; }
};

}  // namespace orvel
