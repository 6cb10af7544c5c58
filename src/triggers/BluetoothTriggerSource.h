#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/RunLoop.h"
#include "foundation/WeakRef.h"
#include "platform/Bluetooth.h"
#include "triggers/TriggerRule.h"

namespace orvel {

class OrvelController;
class PowerTriggerCenter;
class TriggerEngine;

// Turns Bluetooth devices connecting and disconnecting into rule events for the trigger engine,
// and runs the device battery floors of Bluetooth rules through the power centre (never through
// the engine). Started and stopped only by the engine. Main thread only; every rule event and
// battery hand-off is queued to the main loop, so callers see it after the current callback.
class BluetoothTriggerSource final : public WeakReferenceable {
  public:
    struct PairedDevice {
        std::string address;
        // The device's name, or its address when it has none.
        std::string name;
        bool operator==(const PairedDevice&) const = default;
    };

    static constexpr double kBatteryPollSeconds = 60.0;

    // The engine, the power centre and the controller are reached on events only: the engine
    // builds this source, and the power centre reads the power state as it is built.
    BluetoothTriggerSource(Bluetooth& bluetooth, std::function<TriggerEngine&()> engine,
                           std::function<PowerTriggerCenter&()> powerCenter,
                           std::function<OrvelController&()> controller);
    ~BluetoothTriggerSource();

    // Installs the rules; the first start registers for connections of all devices. Disconnect
    // registrations are added for the rules' connected devices, never pruned by a new list.
    void start(std::vector<TriggerRule> rules);
    // Ends every registration and the battery poll and forgets tripped floors and levels; does
    // nothing while stopped.
    void stop();

    // The paired devices by name (plain, case-sensitive text order; equal names keep their
    // order).
    std::vector<PairedDevice> pairedDevices() const;
    // Whether the device with exactly this address is connected now.
    bool isConnected(const std::optional<std::string>& address) const;

    // The levels of the last battery poll, by device key.
    const std::map<std::string, std::int64_t>& lastLevels() const { return lastLevels_; }
    // Reads the published battery levels, by device key (a later entry for a key wins).
    std::map<std::string, std::int64_t> readBatteryLevels() const;
    // The key of a device's levels and floor: the address lowercased, ":" as "-".
    static std::string deviceKey(const std::string& address);
    // The level a tripped floor must reach again: the rule's recovery level, or the floor + 1
    // (at most 100) when the stored level is not above the floor. None without one.
    static std::optional<std::int64_t> recoveryLevel(const TriggerRule& rule);

    bool isRunning() const { return running_; }
    const std::vector<TriggerRule>& rules() const { return rules_; }
    bool isPolling() const { return battTimer_.isValid(); }

  private:
    void registerDisconnects();
    void updateBatteryTimer();
    void checkBatteryFloors();
    void batteryBelowFloor(const std::string& key, const std::string& name, std::int64_t level,
                           std::int64_t floor, bool hasRecovery);
    void batteryRecovered(const std::string& key, const std::string& name, std::int64_t level);
    void handleConnect(const BluetoothDevice& device);
    void ensureDisconnectNote(const std::string& address);
    void handleDisconnect(const BluetoothDevice& device);
    // Releases the "bt-" holds of devices that no rule in `rules_` watches with a recovery
    // level any more; `previous` names them.
    void releaseUnwatchedHolds(const std::vector<TriggerRule>& previous);

    Bluetooth& bluetooth_;
    std::function<TriggerEngine&()> engine_;
    std::function<PowerTriggerCenter&()> powerCenter_;
    std::function<OrvelController&()> controller_;
    std::vector<TriggerRule> rules_;
    std::optional<BluetoothRegistration> connectNote_;
    std::map<std::string, BluetoothRegistration> disconnectNotes_;
    bool running_ = false;
    Timer battTimer_;
    std::map<std::string, bool> trippedBelow_;
    std::map<std::string, std::int64_t> lastLevels_;
};

}  // namespace orvel
