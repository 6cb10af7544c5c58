#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Backlight.h"
#include "platform/Displays.h"
#include "platform/linux/CompositorDisplaySleep.h"
#include "platform/linux/LogindBrightness.h"

namespace orvel {

// The displays of <sysRoot>/class/drm: a connector is online when its status is "connected" and
// it is enabled; eDP, LVDS and DSI connectors are built in. Only a built-in panel has a backlight
// here: the backlight device under its connector, else one of <sysRoot>/class/backlight of type
// firmware or platform (a raw one may be an external monitor's, so it is never chosen). The
// connectors, their backlights and max_brightness are read at most every 3 s, or at once after
// refresh() (a display change); the level itself, brightness ÷ max_brightness, is read each
// time. A write goes to the brightness file, or, when this user may not write it, to logind
// without waiting for the answer (see LogindBrightness). Identifiers are a hash of the
// connector's name, so they stay the same while it is plugged in. Every display is put to sleep
// through the compositor (see CompositorDisplaySleep).
class LinuxDisplays final : public Displays, public Backlight {
  public:
    explicit LinuxDisplays(std::string sysRoot, std::shared_ptr<DBusConnection> systemBus = nullptr,
                           std::string sessionID = "",
                           std::shared_ptr<DBusConnection> sessionBus = nullptr,
                           std::string swaySocket = "", std::string waylandDisplay = "");

    std::vector<DisplayDescription> onlineDisplays() override;
    std::optional<double> level(std::uint32_t display) override;
    bool setLevel(std::uint32_t display, double level) override;

    // The backlight folder that serves a display; nothing when it has none.
    std::optional<std::string> backlightOf(std::uint32_t display);
    // The next question reads the connectors again.
    void refresh() override { scannedAt_.reset(); }
    CompositorSleep compositorSleep() override { return compositor_.route(); }
    void sleepAll(DisplaySleepDone done) override { compositor_.sleepAll(std::move(done)); }

  private:
    struct Panel {
        std::string folder;
        std::string name;
        long max = 0;
    };
    struct Connector {
        DisplayDescription description;
        std::string folder;
        std::optional<Panel> backlight;
    };
    const std::vector<Connector>& connectors();
    std::optional<Panel> findBacklight(const std::string& connectorFolder) const;
    const Panel* panelOf(std::uint32_t display);

    std::string sysRoot_;
    std::vector<Connector> connectors_;
    std::optional<double> scannedAt_;  // run-loop uptime of the last reading
    LogindBrightness logind_;
    Subscription refusals_;
    CompositorDisplaySleep compositor_;
    std::map<std::string, std::uint32_t>
        askedBy_;  // the display of each backlight asked over the bus
};

}  // namespace orvel
