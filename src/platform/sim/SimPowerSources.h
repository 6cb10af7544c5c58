#pragma once

#include "platform/PowerSources.h"

namespace orvel {

// A simulated power supply: by default a laptop on AC with its battery at 80 %.
class SimPowerSources final : public PowerSources {
  public:
    SimPowerSources();

    std::optional<PowerSourcesSnapshot> snapshot() override;
    bool isLowPowerModeEnabled() override { return lowPowerMode_; }

    // Control surface for tests.
    // Plugs in or unplugs the machine (its internal batteries report the state).
    void setOnAC(bool onAC);
    void setBatteryPercent(int percent);
    // A desktop: no internal battery.
    void removeBatteries();
    // A UPS among the sources; `powering` makes it the providing source.
    void setUPS(bool present, bool powering);
    void setSources(PowerSourcesSnapshot snapshot) { snapshot_ = std::move(snapshot); }
    void setUnreadable(bool unreadable) { unreadable_ = unreadable; }
    // Switches Power Saver on or off and sends powerStateDidChange.
    void setLowPowerMode(bool on);

  private:
    PowerSourcesSnapshot snapshot_;
    bool unreadable_ = false;
    bool lowPowerMode_ = false;
};

}  // namespace orvel
