#pragma once

#include "foundation/Log.h"
#include "platform/Bluetooth.h"

namespace orvel {

// Bluetooth on Linux is not followed yet: the process is not allowed to use it, so Bluetooth
// rules stay stored but never run. Said once in the log.
class LinuxBluetooth final : public Bluetooth {
  public:
    BluetoothAuthorization authorization() override {
        if (!said_) {
            said_ = true;
            Logger("bluetooth")
                .notice(
                    "Bluetooth devices are not available on this system; Bluetooth rules do not "
                    "run.");
        }
        return BluetoothAuthorization::denied;
    }
    std::vector<BluetoothDevice> pairedDevices() override { return {}; }
    std::optional<BluetoothDevice> device(std::string_view) override { return std::nullopt; }

  private:
    bool said_ = false;
};

}  // namespace orvel
