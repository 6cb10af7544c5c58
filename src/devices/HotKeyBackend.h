#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace orvel {

// A registered global shortcut; destroying the object unregisters it.
class HotKeyBackend {
  public:
    virtual ~HotKeyBackend() = default;
};

// The system-wide hot key of a key code and modifier mask.
//
// This is its first, least form: desktops offer no common way yet for a program to grab a key
// system-wide, so it records the registration and runs the action only when press() is
// called. Callers already use the interface the full form keeps.
class CarbonHotKey final : public HotKeyBackend {
  public:
    CarbonHotKey(std::uint32_t keyCode, std::uint32_t modifiers, std::function<void()> action);

    std::uint32_t keyCode() const { return keyCode_; }
    std::uint32_t modifiers() const { return modifiers_; }
    // The key was pressed.
    void press();

  private:
    std::uint32_t keyCode_;
    std::uint32_t modifiers_;
    std::function<void()> action_;
};

}  // namespace orvel
