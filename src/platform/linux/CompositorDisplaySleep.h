#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "platform/Displays.h"
#include "platform/linux/DBusConnection.h"
#include "platform/linux/SwayIpc.h"
#include "platform/linux/WlrOutputPower.h"

namespace orvel {

// Puts every display to sleep through what the Wayland compositor offers, chosen by what is
// there when asked: sway's IPC socket (`swaySocket`, from $SWAYSOCK) with "output * power off"
// (or "dpms off", which sway 1.7 and older take instead); GNOME's org.gnome.Mutter.DisplayConfig,
// whose PowerSaveMode is set to 3 (off); or KDE's power management, whose "Turn Off Screen"
// shortcut is invoked through org.kde.kglobalaccel while org.kde.Solid.PowerManagement runs;
// or, on other wlroots compositors on `waylandDisplay`, the output power manager (see
// WlrOutputPower).
// Nothing waits for an answer. sway's, whose "dpms off" says it succeeded also where an output
// could not be switched off, is checked against its outputs' power read back after it (as the
// output power manager's mode events are); what came of it is logged and handed to the caller.
// Threading: main thread only.
class CompositorDisplaySleep {
  public:
    CompositorDisplaySleep(std::shared_ptr<DBusConnection> sessionBus, std::string swaySocket,
                           std::string waylandDisplay = "");
    ~CompositorDisplaySleep();
    CompositorDisplaySleep(const CompositorDisplaySleep&) = delete;
    CompositorDisplaySleep& operator=(const CompositorDisplaySleep&) = delete;

    CompositorSleep route() const;
    void sleepAll(DisplaySleepDone done = {});

    // The active outputs of sway's get_outputs answer that are still on ("power", or "dpms" up
    // to sway 1.7); none where the answer is not one.
    static std::optional<std::vector<std::string>> swayOutputsOn(std::string_view answer);

  private:
    void sendToSway(const char* command, bool fallBack, DisplaySleepDone done);
    void readBackFromSway(const std::string& asked, DisplaySleepDone done);
    void callBus(const DBusObject& object, const char* member, const DBusConnection::Append& append,
                 const std::string& what, DisplaySleepDone done);

    std::shared_ptr<DBusConnection> bus_;
    std::string swaySocket_;
    std::shared_ptr<BusName> mutter_;
    std::shared_ptr<BusName> kdePower_;
    std::shared_ptr<BusName> kdeShortcuts_;
    std::unique_ptr<SwayRequest> sway_;
    WlrOutputPower wlroots_;
    Logger log_{"devices"};
};

}  // namespace orvel
