#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "foundation/WeakRef.h"
#include "platform/HotKeys.h"

namespace orvel {

// A registered global shortcut; destroying the object unregisters it.
class HotKeyBackend {
  public:
    virtual ~HotKeyBackend() = default;
};

// A registered system-wide hot key: needs no permission. Every instance installs a handler,
// and any handler delivers any registered hot key through a process-wide registry of weak
// references by id; ids are never reused within a process. A combination another program
// holds simply never fires. Main thread only.
class CarbonHotKey final : public HotKeyBackend, public WeakReferenceable {
  public:
    CarbonHotKey(HotKeys& hotKeys, std::uint32_t keyCode, std::uint32_t modifiers,
                 std::function<void()> action);
    ~CarbonHotKey() override;

    std::uint32_t keyCode() const { return keyCode_; }
    std::uint32_t modifiers() const { return modifiers_; }
    std::uint32_t id() const { return id_; }
    // The registry's live entries (after pruning on the next construction).
    static std::size_t registrySize();

  private:
    static void handle(std::uint32_t id);

    std::unique_ptr<HotKeyToken> ref_;
    std::unique_ptr<HotKeyToken> handler_;
    std::function<void()> action_;
    std::uint32_t id_;
    std::uint32_t keyCode_;
    std::uint32_t modifiers_;
};

// A pair of key-down monitors: needs both input permissions. Matches the key code with the
// device-independent modifier flags (masked with 0xFFFF0000) exactly, so an added Shift or Caps
// Lock does not fire; inside Orvel the key is consumed. Main thread only.
class MonitorHotKey final : public HotKeyBackend {
  public:
    static constexpr std::uint64_t kFlagMask = 0xFFFF0000;

    MonitorHotKey(HotKeys& hotKeys, std::uint16_t keyCode, std::uint64_t modifierFlags,
                  std::function<void()> action);

    // False where the system lets no program watch keys typed in others (Wayland).
    bool watchesOtherApplications() const { return monitor_ != nullptr; }

  private:
    std::unique_ptr<HotKeyToken> monitor_;
    std::unique_ptr<HotKeyToken> local_;
};

}  // namespace orvel
