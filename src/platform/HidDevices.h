#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Signal.h"

// The human-interface devices attached now, with the properties that tell a built-in device from
// an external one. Threading: main thread only; the signal is sent on the main thread.

namespace orvel {

// A (usage page, usage) pair a device conforms to.
struct HidUsage {
    std::uint32_t page = 0;
    std::uint32_t usage = 0;
    bool operator==(const HidUsage&) const = default;
};

namespace hid_usage {
inline constexpr HidUsage kKeyboard{0x01, 0x06};
inline constexpr HidUsage kMouse{0x01, 0x02};
inline constexpr HidUsage kPointer{0x01, 0x01};
inline constexpr HidUsage kTouchPad{0x0D, 0x05};
}  // namespace hid_usage

// One attached device. Absent properties are those the system does not report.
struct HidDevice {
    // Stable while the device stays attached; never reused for another device by a backend.
    std::uint64_t id = 0;
    std::optional<std::string> product;
    std::optional<std::string> transport;
    std::optional<bool> builtIn;
    std::optional<std::int64_t> vendorId;
    std::vector<HidUsage> usages;

    bool conformsTo(HidUsage usage) const {
        for (const auto& u : usages) {
            if (u == usage) {
                return true;
            }
        }
        return false;
    }
    bool isInputDevice() const {
        return conformsTo(hid_usage::kKeyboard) || conformsTo(hid_usage::kMouse) ||
               conformsTo(hid_usage::kPointer) || conformsTo(hid_usage::kTouchPad);
    }
};

class HidDevices {
  public:
    virtual ~HidDevices() = default;

    // Every device attached now. An enumeration that fails gives an empty list (and a log line).
    virtual std::vector<HidDevice> attachedDevices() = 0;

    // A device was attached or detached.
    Signal<> devicesChanged;
};

}  // namespace orvel
