#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "platform/PowerSources.h"
#include "platform/linux/DBusConnection.h"

namespace orvel {

// Power supplies as the kernel lists them under <sys root>/class/power_supply, read afresh on
// every snapshot() (callers poll; nothing here wakes up by itself); only a supply's type and
// scope, which never change, are remembered while it stays listed. A battery whose scope is
// "Device" belongs to a peripheral (a mouse, a headset) and is never the machine's. Mains and
// USB supplies that are online, or a battery that is charging, full or not charging, mean the
// machine runs on external power.
//
// Low Power Mode is power-profiles-daemon's "power-saver" profile, watched on the system bus
// under either of the daemon's names; without the daemon it is off.
class LinuxPowerSources final : public PowerSources {
  public:
    explicit LinuxPowerSources(std::string sysRoot = "/sys",
                               std::shared_ptr<DBusConnection> systemBus = nullptr);
    ~LinuxPowerSources() override;

    std::optional<PowerSourcesSnapshot> snapshot() override;
    bool isLowPowerModeEnabled() override { return lowPower_; }

  private:
    void followProfiles();
    void setProfile(const std::string& profile);

    struct SupplyKind {
        std::string type;
        bool deviceScope = false;
    };

    std::string root_;
    std::map<std::string, SupplyKind> kinds_;  // by supply name
    std::shared_ptr<DBusConnection> bus_;
    std::vector<std::shared_ptr<BusName>> daemons_;
    std::vector<Subscription> daemonWatches_;
    int followed_ = -1;  // index of the daemon name in use
    DBusSlot changes_;
    DBusSlot query_;
    bool lowPower_ = false;
    Logger log_{"power"};
};

}  // namespace orvel
