#include "devices/HotKeyBackend.h"

namespace orvel {

CarbonHotKey::CarbonHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                           std::function<void()> action)
    : keyCode_(keyCode), modifiers_(modifiers), action_(std::move(action)) {}

void CarbonHotKey::press() {
    if (action_) {
        auto action = action_;
        action();
    }
}

}  // namespace orvel
