#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/HotKeys.h"

namespace orvel {

// Hot keys and key monitors of the simulated machine. A press that matches a registered hot key
// goes to the newest handler and nowhere else; any other press goes to the global monitors
// (typed elsewhere) or the local ones (typed in Orvel), and reaches the focused control unless
// a local monitor consumed it.
class SimHotKeys final : public HotKeys {
  public:
    enum class Outcome { hotKey, consumed, delivered };

    SimHotKeys();
    ~SimHotKeys() override;

    std::optional<std::string> unavailableReason() override { return unavailable_; }
    std::optional<std::string> boundTrigger() override { return bound_; }
    std::unique_ptr<HotKeyToken> installHandler(std::function<void(std::uint32_t)>) override;
    std::unique_ptr<HotKeyToken> registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                std::uint32_t id) override;
    std::unique_ptr<HotKeyToken> addGlobalMonitor(std::function<void(const KeyPress&)>) override;
    std::unique_ptr<HotKeyToken> addLocalMonitor(std::function<bool(const KeyPress&)>) override;
    bool deliverLocalKey(const KeyPress& press) override;

    // Control surface for tests.
    void setUnavailable(std::optional<std::string> reason) {
        unavailable_ = std::move(reason);
        changed.send();
    }
    // Global monitors refused, as on Wayland.
    void setGlobalMonitorsRefused(bool refused) { monitorsRefused_ = refused; }
    // The keys the desktop says it bound, as a portal reports them.
    void setBoundTrigger(std::optional<std::string> trigger) {
        bound_ = std::move(trigger);
        changed.send();
    }
    // A key down with monitor-style flags, in another application or in Orvel.
    Outcome press(std::uint16_t keyCode, std::uint64_t modifierFlags, bool inOrvel);
    // A hot-key event for `id`, whether or not it is registered.
    void sendHotKeyEvent(std::uint32_t id);
    // Ids registered now.
    std::vector<std::uint32_t> registeredIds() const;
    std::size_t handlerCount() const;
    std::size_t monitorCount() const;

    struct State;

  private:
    std::shared_ptr<State> state_;
    std::optional<std::string> unavailable_;
    std::optional<std::string> bound_;
    bool monitorsRefused_ = false;
};

}  // namespace orvel
