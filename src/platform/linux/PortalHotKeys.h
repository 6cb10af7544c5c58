#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/HotKeys.h"
#include "platform/linux/DBusConnection.h"

namespace orvel {

// Hot keys through the desktop portal's global shortcuts (org.freedesktop.portal.GlobalShortcuts),
// the way Wayland desktops offer them. Each registration is a portal session of its own with one
// shortcut, asked for with the combination as its preferred trigger; the desktop may bind other
// keys or ask the user, and the keys it reports are boundTrigger(). Destroying the registration
// closes the session. Where the portal is not running or has no such interface,
// unavailableReason() says so once it is known, and the registrations wait: the portal's name is
// followed on the bus, and each portal that takes it (one started later, or restarted) is asked
// again. Key monitors are refused: a Wayland desktop shows no client the keys typed in another.
// Main thread only.
class PortalHotKeys final : public HotKeys {
  public:
    // The id the shortcut carries in the portal.
    static constexpr const char* kShortcutId = "toggle-session";
    // The combination in the XDG shortcuts format, from hot-key modifiers and key code.
    static std::optional<std::string> triggerFor(std::uint32_t keyCode, std::uint32_t modifiers);

    explicit PortalHotKeys(std::shared_ptr<DBusConnection> sessionBus);
    ~PortalHotKeys() override;

    std::optional<std::string> unavailableReason() override;
    std::optional<std::string> boundTrigger() override;
    std::unique_ptr<HotKeyToken> installHandler(std::function<void(std::uint32_t)>) override;
    std::unique_ptr<HotKeyToken> registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                std::uint32_t id) override;
    std::unique_ptr<HotKeyToken> addGlobalMonitor(std::function<void(const KeyPress&)>) override;
    std::unique_ptr<HotKeyToken> addLocalMonitor(std::function<bool(const KeyPress&)>) override;

    struct State;
    struct Session;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace orvel
