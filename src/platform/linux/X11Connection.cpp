#include "platform/linux/X11Connection.h"

namespace orvel::x11 {

std::optional<Connection> connect(const std::optional<std::string>& display) {
    Connection out;
    out.connection = xcb_connect(display ? display->c_str() : nullptr, &out.screen);
    if (xcb_connection_has_error(out.connection) != 0) {
        xcb_disconnect(out.connection);
        return std::nullopt;
    }
    auto iter = xcb_setup_roots_iterator(xcb_get_setup(out.connection));
    for (int i = 0; i < out.screen && iter.rem > 0; ++i) {
        xcb_screen_next(&iter);
    }
    out.root = iter.data->root;
    return out;
}

}  // namespace orvel::x11
