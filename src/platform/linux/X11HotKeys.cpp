#include "platform/linux/X11HotKeys.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11KeyMonitor.h"

namespace orvel {

namespace {

// The stored virtual key codes Orvel registers, as X keysyms.
std::optional<std::uint32_t> keysymFor(std::uint32_t keyCode) {
    switch (keyCode) {
        case 8:
            return 0x63;  // c
        default:
            return std::nullopt;
    }
}

constexpr std::uint16_t kLock = XCB_MOD_MASK_LOCK;
constexpr std::uint16_t kNumLock = XCB_MOD_MASK_2;

std::uint16_t xModifiers(std::uint32_t modifiers) {
    std::uint16_t mask = 0;
    if (modifiers & 0x0100)
        mask |= XCB_MOD_MASK_4;  // command: Super
    if (modifiers & 0x0200)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & 0x0800)
        mask |= XCB_MOD_MASK_1;  // option: Alt
    if (modifiers & 0x1000)
        mask |= XCB_MOD_MASK_CONTROL;
    return mask;
}

}  // namespace

struct X11HotKeys::State {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    FdWatch watch;
    std::uint64_t next = 1;
    std::map<std::uint64_t, std::function<void(std::uint32_t)>> handlers;
    struct Grab {
        xcb_keycode_t keycode;
        std::uint16_t modifiers;
        std::uint32_t id;
    };
    std::map<std::uint64_t, Grab> grabs;
    std::map<std::uint64_t, std::function<void(const KeyPress&)>> monitors;
    std::map<std::uint64_t, std::function<bool(const KeyPress&)>> local;
    // Opened with the first monitor and kept: watching costs nothing while no key is typed.
    std::unique_ptr<X11KeyMonitor> keyMonitor;

    void pressed(std::uint16_t keyCode, std::uint64_t flags) {
        auto all = monitors;  // a monitor may remove itself
        for (auto& [key, monitor] : all) {
            monitor(KeyPress{keyCode, flags});
        }
    }

    ~State() {
        keyMonitor.reset();
        watch.cancel();
        if (connection != nullptr) {
            xcb_disconnect(connection);
        }
    }

    void setGrab(const Grab& grab, bool on) {
        std::vector<xcb_void_cookie_t> cookies;
        for (std::uint16_t extra :
             {std::uint16_t{0}, kLock, kNumLock, std::uint16_t(kLock | kNumLock)}) {
            if (on) {
                cookies.push_back(xcb_grab_key_checked(connection, 1, root, grab.modifiers | extra,
                                                       grab.keycode, XCB_GRAB_MODE_ASYNC,
                                                       XCB_GRAB_MODE_ASYNC));
            } else {
                xcb_ungrab_key(connection, grab.keycode, root, grab.modifiers | extra);
            }
        }
        // Waiting for the answers also makes the grab hold before the next key arrives.
        bool refused = false;
        for (auto cookie : cookies) {
            if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
                refused = true;
                std::free(error);
            }
        }
        if (refused) {
            Logger("hotkey").notice("Another program holds the hot key; it will not fire.");
        }
        xcb_flush(connection);
    }

    void readEvents() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            if ((event->response_type & 0x7F) == XCB_KEY_PRESS) {
                auto* press = reinterpret_cast<xcb_key_press_event_t*>(event);
                const std::uint16_t state = press->state & ~(kLock | kNumLock) & 0xFF;
                std::optional<std::uint32_t> id;
                for (const auto& [key, grab] : grabs) {
                    if (grab.keycode == press->detail && grab.modifiers == state) {
                        id = grab.id;
                    }
                }
                if (id && !handlers.empty()) {
                    auto handler = handlers.rbegin()->second;
                    handler(*id);
                }
            }
            std::free(event);
        }
        if (xcb_connection_has_error(connection) != 0) {
            Logger("hotkey").error("The X server connection for the hot key was lost.");
            watch.cancel();
        }
    }

    std::optional<xcb_keycode_t> keycodeFor(std::uint32_t keysym) {
        const xcb_setup_t* setup = xcb_get_setup(connection);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto cookie = xcb_get_keyboard_mapping(connection, setup->min_keycode, count);
        xcb_get_keyboard_mapping_reply_t* reply =
            xcb_get_keyboard_mapping_reply(connection, cookie, nullptr);
        if (reply == nullptr) {
            return std::nullopt;
        }
        std::optional<xcb_keycode_t> found;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
        const int per = reply->keysyms_per_keycode;
        for (int i = 0; i < count && !found; ++i) {
            for (int j = 0; j < per; ++j) {
                if (syms[i * per + j] == keysym) {
                    found = static_cast<xcb_keycode_t>(setup->min_keycode + i);
                    break;
                }
            }
        }
        std::free(reply);
        return found;
    }
};

namespace {

enum class Kind { handler, grab, monitor, local };

class X11Token final : public HotKeyToken {
  public:
    X11Token(std::weak_ptr<X11HotKeys::State> state, std::uint64_t key, Kind kind)
        : state_(std::move(state)), key_(key), kind_(kind) {}
    ~X11Token() override {
        auto state = state_.lock();
        if (!state) {
            return;
        }
        switch (kind_) {
            case Kind::handler:
                state->handlers.erase(key_);
                return;
            case Kind::monitor:
                state->monitors.erase(key_);
                return;
            case Kind::local:
                state->local.erase(key_);
                return;
            case Kind::grab:
                break;
        }
        if (auto it = state->grabs.find(key_); it != state->grabs.end()) {
            const auto grab = it->second;
            state->grabs.erase(it);
            state->setGrab(grab, false);
        }
    }

  private:
    std::weak_ptr<X11HotKeys::State> state_;
    std::uint64_t key_;
    Kind kind_;
};

}  // namespace

X11HotKeys::X11HotKeys(std::optional<std::string> display) : display_(std::move(display)) {}

X11HotKeys::~X11HotKeys() = default;

bool X11HotKeys::connect() {
    if (tried_) {
        return state_ != nullptr;
    }
    tried_ = true;
    if (!display_) {
        const char* env = std::getenv("DISPLAY");
        if (env == nullptr || *env == '\0') {
            return false;
        }
    }
    const auto connected = x11::connect(display_);
    if (!connected) {
        return false;
    }
    xcb_connection_t* connection = connected->connection;
    state_ = std::make_shared<State>();
    state_->connection = connection;
    state_->root = connected->root;
    std::weak_ptr<State> weak = state_;
    state_->watch =
        RunLoop::main().watchFd(xcb_get_file_descriptor(connection), kFdReadable, [weak](unsigned) {
            if (auto state = weak.lock()) {
                state->readEvents();
            }
        });
    return true;
}

std::optional<std::string> X11HotKeys::unavailableReason() {
    if (!display_) {
        // XWayland would hand the key over only while one of its own windows has focus.
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if (wayland != nullptr && *wayland != '\0') {
            return std::string(
                "On Wayland, global shortcuts go through the desktop's GlobalShortcuts "
                "portal, not X11 key grabs.");
        }
    }
    if (connect()) {
        return std::nullopt;
    }
    return localized("Global shortcuts need an X11 display; this session has none.");
}

std::unique_ptr<HotKeyToken> X11HotKeys::installHandler(
    std::function<void(std::uint32_t)> handler) {
    if (unavailableReason()) {
        return nullptr;
    }
    const std::uint64_t key = state_->next++;
    state_->handlers.emplace(key, std::move(handler));
    return std::make_unique<X11Token>(state_, key, Kind::handler);
}

std::unique_ptr<HotKeyToken> X11HotKeys::registerHotKey(std::uint32_t keyCode,
                                                        std::uint32_t modifiers, std::uint32_t id) {
    if (auto reason = unavailableReason()) {
        if (!saidUnavailable_) {
            saidUnavailable_ = true;
            Logger("hotkey").notice(*reason);
        }
        return nullptr;
    }
    const auto keysym = keysymFor(keyCode);
    const auto keycode = keysym ? state_->keycodeFor(*keysym) : std::nullopt;
    if (!keycode) {
        Logger("hotkey").error("The keyboard has no key for the hot key " +
                               std::to_string(keyCode) + ".");
        return nullptr;
    }
    const State::Grab grab{*keycode, xModifiers(modifiers), id};
    const std::uint64_t key = state_->next++;
    state_->grabs.emplace(key, grab);
    state_->setGrab(grab, true);
    return std::make_unique<X11Token>(state_, key, Kind::grab);
}

std::unique_ptr<HotKeyToken> X11HotKeys::addGlobalMonitor(
    std::function<void(const KeyPress&)> monitor) {
    if (unavailableReason()) {
        Logger("hotkey").notice("Watching keys in other applications needs an X11 display.");
        return nullptr;
    }
    if (!state_->keyMonitor) {
        std::weak_ptr<State> weak = state_;
        state_->keyMonitor =
            X11KeyMonitor::open(display_, [weak](std::uint16_t keyCode, std::uint64_t flags) {
                if (auto state = weak.lock()) {
                    state->pressed(keyCode, flags);
                }
            });
        if (!state_->keyMonitor) {
            return nullptr;
        }
    }
    const std::uint64_t key = state_->next++;
    state_->monitors.emplace(key, std::move(monitor));
    return std::make_unique<X11Token>(state_, key, Kind::monitor);
}

std::unique_ptr<HotKeyToken> X11HotKeys::addLocalMonitor(
    std::function<bool(const KeyPress&)> monitor) {
    if (unavailableReason()) {
        return nullptr;
    }
    const std::uint64_t key = state_->next++;
    state_->local.emplace(key, std::move(monitor));
    return std::make_unique<X11Token>(state_, key, Kind::local);
}

bool X11HotKeys::deliverLocalKey(const KeyPress& press) {
    if (!state_) {
        return false;
    }
    auto all = state_->local;  // a monitor may remove itself
    for (auto& [key, monitor] : all) {
        if (monitor(press)) {
            return true;
        }
    }
    return false;
}

}  // namespace orvel
