#pragma once

#include <xcb/xcb.h>

#include <optional>
#include <string>

namespace orvel::x11 {

// A connection of its own to an X display, and the root window of its default screen.
struct Connection {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = XCB_NONE;
    int screen = 0;
};

// Connects to `display` (DISPLAY when none); nothing when the display does not answer.
std::optional<Connection> connect(const std::optional<std::string>& display);

}  // namespace orvel::x11
