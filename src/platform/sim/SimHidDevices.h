#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/HidDevices.h"

namespace orvel {

// Devices that tests attach and detach. Each attachment gets a new id, as a real system gives a
// replugged device a new registry entry.
class SimHidDevices final : public HidDevices {
  public:
    std::vector<HidDevice> attachedDevices() override {
        ++enumerations_;
        return handsOut_ ? devices_ : std::vector<HidDevice>{};
    }

    // Attaches the device (its id is replaced) and returns its id.
    std::uint64_t attach(HidDevice device) {
        device.id = nextId_++;
        devices_.push_back(std::move(device));
        devicesChanged.send();
        return devices_.back().id;
    }
    void detach(std::uint64_t id) {
        std::erase_if(devices_, [id](const HidDevice& d) { return d.id == id; });
        devicesChanged.send();
    }
    // Whether enumerations see the attached devices: a system without Input Monitoring hands
    // out none.
    void setHandsOutDevices(bool handsOut) { handsOut_ = handsOut; }
    std::size_t enumerationCount() const { return enumerations_; }

  private:
    std::vector<HidDevice> devices_;
    std::uint64_t nextId_ = 1;
    bool handsOut_ = true;
    std::size_t enumerations_ = 0;
};

}  // namespace orvel
