#pragma once

#include <optional>
#include <string>
#include <vector>

#include "triggers/TriggerRule.h"

namespace orvel {

// Turns Bluetooth devices connecting and disconnecting into rule events, and runs the device
// battery floors of Bluetooth rules.
//
// This is its first, least form: it keeps the rules the engine hands it and answers which
// devices are paired and whether one is connected; it does not follow connections or battery
// levels yet, so it reports no events. Callers already use the interface the full form keeps.
class BluetoothTriggerSource {
  public:
    struct PairedDevice {
        std::string address;
        // The device's name, or its address when it has none.
        std::string name;
        bool operator==(const PairedDevice&) const = default;
    };

    static BluetoothTriggerSource& shared();

    void start(std::vector<TriggerRule> rules);
    // Forgets the rules; does nothing while stopped.
    void stop();

    // The paired devices by name (plain, case-sensitive text order; equal names keep their
    // order).
    std::vector<PairedDevice> pairedDevices() const;
    // Whether the paired device with exactly this address is connected now.
    bool isConnected(const std::optional<std::string>& address) const;

    bool isRunning() const { return running_; }
    const std::vector<TriggerRule>& rules() const { return rules_; }

  private:
    BluetoothTriggerSource() = default;

    std::vector<TriggerRule> rules_;
    bool running_ = false;
};

}  // namespace orvel
