#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/WeakRef.h"
#include "platform/PowerSources.h"
#include "platform/linux/DBusConnection.h"
#include "platform/linux/UniqueFd.h"

namespace orvel {

// Power supplies as the kernel lists them under <sys root>/class/power_supply, read afresh
// unless a reading less than a second old has seen no change since, so that everyone who looks
// at one change shares one reading; only a supply's type and scope, which never change, are
// remembered while it stays listed. Changes are announced from the kernel's power_supply uevents
// and from UPower's signals, at most once a turn. A battery whose scope is "Device" belongs to a
// peripheral (a mouse, a headset) and is never the machine's. Mains and USB supplies that are
// online, or a battery that is charging, full or not charging, mean the machine runs on external
// power.
//
// UPower's UPS devices (Type 3) are listed beside the kernel's supplies, from a mirror that
// EnumerateDevices fills and DeviceAdded/DeviceRemoved and PropertiesChanged keep, so snapshot()
// never waits on the bus; a UPS that discharges (State 2) powers the machine while no mains
// supply is online.
//
// Power Saver is power-profiles-daemon's "power-saver" profile, watched on the system bus
// under either of the daemon's names; without the daemon it is off.
class LinuxPowerSources final : public PowerSources, public WeakReferenceable {
  public:
    // `uevents` is a socket of kernel uevents (tests hand one of their own, or an empty one for
    // none); nothing opens the kernel's.
    explicit LinuxPowerSources(std::string sysRoot = "/sys",
                               std::shared_ptr<DBusConnection> systemBus = nullptr,
                               std::optional<UniqueFd> uevents = std::nullopt);
    ~LinuxPowerSources() override;

    std::optional<PowerSourcesSnapshot> snapshot() override;
    bool isLowPowerModeEnabled() override { return lowPower_; }
    bool announcesChanges() const override { return ueventWatch_.isValid(); }

  private:
    // What the mirror keeps of one UPower device.
    struct UPowerDevice {
        std::uint32_t type = 0;
        std::uint32_t state = 0;
        std::optional<double> percentage;
        std::optional<bool> online;
        // Whether it powers this machine (a UPS may only be watched).
        std::optional<bool> powerSupply;
        std::string model;
        std::string nativePath;
    };

    std::optional<PowerSourcesSnapshot> read();
    void watchUevents(std::optional<UniqueFd> socket);
    void readUevents();
    // Drops the shared reading and tells the observers on the next turn, once however many
    // changes come in this one.
    void sourcesChanged();
    void followProfiles();
    void setProfile(const std::string& profile);
    void followUPower();
    void readUPowerDevice(const std::string& path);
    static void readUPowerProperties(sd_bus_message* m, UPowerDevice& device);

    struct SupplyKind {
        std::string type;
        bool deviceScope = false;
    };

    std::string root_;
    // The last reading, shared by everyone who looks soon after it, until a change comes.
    std::optional<std::optional<PowerSourcesSnapshot>> reading_;
    double readAt_ = 0.0;
    bool announcing_ = false;
    UniqueFd uevents_;
    FdWatch ueventWatch_;
    std::map<std::string, SupplyKind> kinds_;  // by supply name
    std::shared_ptr<DBusConnection> bus_;
    std::vector<std::shared_ptr<BusName>> daemons_;
    std::vector<Subscription> daemonWatches_;
    int followed_ = -1;  // index of the daemon name in use
    DBusSlot changes_;
    DBusSlot query_;
    bool lowPower_ = false;
    std::shared_ptr<BusName> upower_;
    Subscription upowerWatch_;
    DBusSlot upowerAdded_;
    DBusSlot upowerRemoved_;
    DBusSlot upowerChanged_;
    DBusSlot upowerQuery_;
    std::map<std::string, DBusSlot> upowerReads_;        // by object path
    std::map<std::string, UPowerDevice> upowerDevices_;  // by object path
    Logger log_{"power"};
};

}  // namespace orvel
