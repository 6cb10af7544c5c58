#pragma once

#include <vector>

#include "platform/Bluetooth.h"

namespace orvel {

// Simulated Bluetooth: allowed, with no paired devices until a test pairs some.
class SimBluetooth final : public Bluetooth {
  public:
    BluetoothAuthorization authorization() override { return authorization_; }
    std::vector<BluetoothDevice> pairedDevices() override { return devices_; }
    std::optional<BluetoothDevice> device(std::string_view address) override {
        for (const auto& d : devices_) {
            if (d.address == address) {
                return d;
            }
        }
        return std::nullopt;
    }

    // Control surface for tests.
    void setAuthorization(BluetoothAuthorization authorization) { authorization_ = authorization; }
    // Pairs a device, or replaces the paired device with the same address.
    void pair(BluetoothDevice device) {
        for (auto& d : devices_) {
            if (d.address == device.address) {
                d = std::move(device);
                return;
            }
        }
        devices_.push_back(std::move(device));
    }
    void setConnected(std::string_view address, bool connected) {
        for (auto& d : devices_) {
            if (d.address == address) {
                d.connected = connected;
            }
        }
    }
    void unpairAll() { devices_.clear(); }

  private:
    BluetoothAuthorization authorization_ = BluetoothAuthorization::allowedAlways;
    std::vector<BluetoothDevice> devices_;
};

}  // namespace orvel
