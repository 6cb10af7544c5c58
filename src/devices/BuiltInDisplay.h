#pragma once

#include <cstdint>
#include <optional>

namespace orvel {

// The machine's built-in display.
//
// This is its first, least form: no display is asked yet, so none is ever online unless a test
// says so. Callers already use the interface the full form keeps.
class BuiltInDisplay {
  public:
    static BuiltInDisplay& shared();

    // The built-in display's identifier while one is online.
    static std::optional<std::uint32_t> builtInDisplayID();

    // For tests: the built-in display that is online.
    void setOnlineDisplay(std::optional<std::uint32_t> id) { online_ = id; }

  private:
    BuiltInDisplay() = default;
    std::optional<std::uint32_t> online_;
};

}  // namespace orvel
