#pragma once

#include <string>

namespace orvel {

// A rectangle in the compositor's layout: the space all outputs share, in logical pixels.
struct LayoutBox {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const LayoutBox&) const = default;
};

// An output by the name the compositor gives it (DP-1, HEADLESS-1) and where it lies.
struct LayoutOutput {
    std::string name;
    LayoutBox box;
    bool operator==(const LayoutOutput&) const = default;
};

}  // namespace orvel
