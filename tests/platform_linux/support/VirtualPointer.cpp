#include "support/VirtualPointer.h"

#include <poll.h>
#include <wayland-client.h>

#include <chrono>
#include <cstring>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace orvel::test {

namespace {

constexpr int kLimitMs = 5000;

std::uint32_t nowMs() {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

const wl_registry_listener kRegistryListener{
    .global =
        [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
           std::uint32_t) {
            auto** manager = static_cast<zwlr_virtual_pointer_manager_v1**>(data);
            if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0 &&
                *manager == nullptr) {
                *manager = static_cast<zwlr_virtual_pointer_manager_v1*>(wl_registry_bind(
                    registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
            }
        },
    .global_remove = [](void*, wl_registry*, std::uint32_t) {},
};

}  // namespace

VirtualPointer::VirtualPointer(const std::string& display) {
    display_ = wl_display_connect(display.c_str());
    if (display_ == nullptr) {
        why_ = "no Wayland display at " + display;
        return;
    }
    wl_registry* registry = wl_display_get_registry(display_);
    wl_registry_add_listener(registry, &kRegistryListener, &manager_);
    const bool answered = roundTrip();
    wl_registry_destroy(registry);
    if (!answered || manager_ == nullptr) {
        why_ =
            answered ? "the compositor offers no virtual pointer" : "the compositor did not answer";
        return;
    }
    pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager_, nullptr);
    if (!roundTrip()) {
        why_ = "the compositor did not take the virtual pointer";
    }
}

VirtualPointer::~VirtualPointer() {
    if (pointer_ != nullptr) {
        zwlr_virtual_pointer_v1_destroy(pointer_);
    }
    if (manager_ != nullptr) {
        zwlr_virtual_pointer_manager_v1_destroy(manager_);
    }
    if (display_ != nullptr) {
        wl_display_disconnect(display_);
    }
}

bool VirtualPointer::goTo(int x, int y, int width, int height) {
    if (!why_.empty() || x < 0 || y < 0 || width <= 0 || height <= 0) {
        return false;
    }
    zwlr_virtual_pointer_v1_motion_absolute(
        pointer_, nowMs(), static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y),
        static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    zwlr_virtual_pointer_v1_frame(pointer_);
    return true;
}

bool VirtualPointer::move(int x, int y, int width, int height) {
    return goTo(x, y, width, height) && roundTrip();
}

bool VirtualPointer::click(int x, int y, int width, int height, std::uint32_t button) {
    if (!goTo(x, y, width, height)) {
        return false;
    }
    zwlr_virtual_pointer_v1_button(pointer_, nowMs(), button, WL_POINTER_BUTTON_STATE_PRESSED);
    zwlr_virtual_pointer_v1_frame(pointer_);
    zwlr_virtual_pointer_v1_button(pointer_, nowMs(), button, WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(pointer_);
    return roundTrip();
}

bool VirtualPointer::roundTrip() {
    bool done = false;
    static const wl_callback_listener listener{
        .done = [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; },
    };
    wl_callback* sync = wl_display_sync(display_);
    wl_callback_add_listener(sync, &listener, &done);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLimitMs);
    while (!done) {
        while (wl_display_prepare_read(display_) != 0) {
            wl_display_dispatch_pending(display_);
        }
        if (done) {
            wl_display_cancel_read(display_);
            break;
        }
        wl_display_flush(display_);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{wl_display_get_fd(display_), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            wl_display_cancel_read(display_);
            break;
        }
        if (wl_display_read_events(display_) != 0 || wl_display_dispatch_pending(display_) < 0) {
            break;
        }
    }
    wl_callback_destroy(sync);
    return done;
}

}  // namespace orvel::test
