#pragma once

#include "platform/PowerSources.h"

namespace orvel {

// A simulated power supply: by default a laptop on AC with its battery at 80 %.
class SimPowerSources final : public PowerSources {
  public:
    SimPowerSources();

    std::optional<PowerSourcesSnapshot> snapshot() override;
    bool isLowPowerModeEnabled() override { return lowPowerMode_; }
    bool announcesChanges() const override { return announces_; }

    // Control surface for tests. Each change is announced, as the kernel and UPower do, unless
    // setAnnouncesChanges(false) makes this a machine that must be polled.
    // Plugs in or unplugs the machine (its internal batteries report the state).
    void setOnAC(bool onAC);
    void setBatteryPercent(int percent);
    // A desktop: no internal battery.
    void removeBatteries();
    // A UPS among the sources; `powering` makes it the providing source.
    void setUPS(bool present, bool powering);
    void setSources(PowerSourcesSnapshot snapshot);
    void setUnreadable(bool unreadable);
    void setAnnouncesChanges(bool announces) { announces_ = announces; }
    // Switches Power Saver on or off and sends powerStateDidChange.
    void setLowPowerMode(bool on);

  private:
    void changed();

    PowerSourcesSnapshot snapshot_;
    bool announces_ = true;
    bool unreadable_ = false;
    bool lowPowerMode_ = false;
};

}  // namespace orvel
