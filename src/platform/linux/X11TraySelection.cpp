#include "platform/linux/X11TraySelection.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "platform/linux/X11Connection.h"

namespace orvel {

namespace {

xcb_atom_t intern(xcb_connection_t* connection, const std::string& name) {
    auto cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str());
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

}  // namespace

struct X11TraySelection::State {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t selection = XCB_ATOM_NONE;
    xcb_atom_t manager = XCB_ATOM_NONE;
    xcb_window_t owner = XCB_WINDOW_NONE;
    FdWatch watch;
    std::function<void(bool)> tell;

    ~State() {
        watch.cancel();
        if (connection != nullptr) {
            xcb_disconnect(connection);
        }
    }

    // Asks who owns the selection now and hears of its window's end. An owner gone before we
    // listen to its window is no owner: its successor announces itself.
    void lookForOwner() {
        auto cookie = xcb_get_selection_owner(connection, selection);
        xcb_get_selection_owner_reply_t* reply =
            xcb_get_selection_owner_reply(connection, cookie, nullptr);
        xcb_window_t found = reply != nullptr ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
        std::free(reply);
        if (found != XCB_WINDOW_NONE) {
            const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            auto listen =
                xcb_change_window_attributes_checked(connection, found, XCB_CW_EVENT_MASK, &mask);
            if (xcb_generic_error_t* error = xcb_request_check(connection, listen)) {
                std::free(error);
                found = XCB_WINDOW_NONE;
            }
        }
        const bool had = owner != XCB_WINDOW_NONE;
        owner = found;
        if (had != (owner != XCB_WINDOW_NONE) && tell) {
            tell(owner != XCB_WINDOW_NONE);
        }
    }

    // The replies lookForOwner() waits for may queue events the descriptor no longer announces:
    // read until none is left.
    void readEvents() {
        bool look = true;
        while (look) {
            look = false;
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                const auto type = event->response_type & 0x7F;
                if (type == XCB_CLIENT_MESSAGE) {
                    auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                    look |= message->type == manager && message->format == 32 &&
                            message->data.data32[1] == selection;
                } else if (type == XCB_DESTROY_NOTIFY) {
                    look |= reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window == owner;
                }
                std::free(event);
            }
            if (xcb_connection_has_error(connection) != 0) {
                Logger("tray").error(
                    "The X server connection that watches the system tray was lost.");
                watch.cancel();
                return;
            }
            if (look) {
                lookForOwner();
            }
        }
    }
};

std::unique_ptr<X11TraySelection> X11TraySelection::open(std::optional<std::string> display) {
    const auto connected = x11::connect(display);
    if (!connected) {
        return nullptr;
    }
    xcb_connection_t* connection = connected->connection;
    std::unique_ptr<X11TraySelection> watcher(new X11TraySelection);
    auto state = std::make_shared<State>();
    state->connection = connection;
    state->root = connected->root;
    state->selection = intern(connection, "_NET_SYSTEM_TRAY_S" + std::to_string(connected->screen));
    state->manager = intern(connection, "MANAGER");
    // A tray's MANAGER message goes to the root window's structure listeners.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, state->root, XCB_CW_EVENT_MASK, &mask);
    state->lookForOwner();
    X11TraySelection* self = watcher.get();
    state->tell = [self](bool present) { self->changed.send(present); };
    std::weak_ptr<State> weak = state;
    state->watch =
        RunLoop::main().watchFd(xcb_get_file_descriptor(connection), kFdReadable, [weak](unsigned) {
            if (auto strong = weak.lock()) {
                strong->readEvents();
            }
        });
    RunLoop::main().async([weak] {
        if (auto strong = weak.lock()) {
            strong->readEvents();
        }
    });
    watcher->state_ = std::move(state);
    return watcher;
}

X11TraySelection::~X11TraySelection() = default;

bool X11TraySelection::hasTray() const {
    return state_->owner != XCB_WINDOW_NONE;
}

}  // namespace orvel
