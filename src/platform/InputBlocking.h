#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/HidDevices.h"

// How this system silences built-in input devices, and the means for each way. Threading: main
// thread only, except the value callback of an observation, which runs on the input thread.

namespace orvel {

enum class BlockingWay {
    // The system switches exactly the chosen devices off; their events never reach anyone.
    perDevice,
    // Events cannot be told apart by device: an event tap drops what arrives while a watched
    // built-in device has just reported a value.
    tapWithCorrelation,
};

// Devices held for the blocker (switched off or watched); destroying it lets them go.
class InputHold {
  public:
    virtual ~InputHold() = default;
};

struct InputHoldResult {
    std::unique_ptr<InputHold> hold;  // null when no device could be held
    std::vector<std::uint64_t> held;  // device ids
    struct Failure {
        std::uint64_t device = 0;
        std::string reason;
    };
    std::vector<Failure> failures;
};

// One input value of a watched device, by its usage page (7: keyboard). Runs on the input thread.
using InputValueCallback = std::function<void(std::uint32_t usagePage)>;

class InputBlocking {
  public:
    virtual ~InputBlocking() = default;

    virtual BlockingWay way() = 0;
    // Switches the given devices off until the hold goes. Per-device systems only; elsewhere
    // every device fails.
    virtual InputHoldResult silence(const std::vector<HidDevice>& devices) = 0;
    // Watches the given devices' input values on the input thread, whose set of devices is
    // complete before it starts. Tap systems only; elsewhere every device fails.
    virtual InputHoldResult observe(const std::vector<HidDevice>& devices,
                                    InputValueCallback onValue) = 0;
};

}  // namespace orvel
