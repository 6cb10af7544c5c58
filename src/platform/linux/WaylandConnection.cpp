#include "platform/linux/WaylandConnection.h"

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvel {

namespace {

constexpr std::uint32_t kOutputVersion = 4;  // the first to tell the output's name

const wl_output_listener kOutputListener{
    .geometry = [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                   std::int32_t, const char*, const char*, std::int32_t) {},
    .mode = [](void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {},
    .done = [](void*, wl_output*) {},
    .scale = [](void*, wl_output*, std::int32_t) {},
    .name = [](void* out, wl_output*,
               const char* text) { static_cast<WaylandOutput*>(out)->name = text; },
    .description = [](void*, wl_output*, const char*) {},
};

}  // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::open(const std::string& display,
                                                           const wl_registry_listener& globals,
                                                           void* data, std::string& why) {
    if (display.empty()) {
        why = "no Wayland display is set";
        return nullptr;
    }
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection);
    connection->display_ = wl_display_connect(display.c_str());
    if (connection->display_ == nullptr) {
        why = display + ": " + std::strerror(errno);
        return nullptr;
    }
    connection->registry_ = wl_display_get_registry(connection->display_);
    wl_registry_add_listener(connection->registry_, &globals, data);
    return connection;
}

WaylandConnection::~WaylandConnection() {
    watch_.cancel();
    if (sync_ != nullptr) {
        wl_callback_destroy(sync_);
    }
    if (registry_ != nullptr) {
        wl_registry_destroy(registry_);
    }
    if (display_ != nullptr) {
        wl_display_disconnect(display_);
    }
}

void WaylandConnection::roundTrip(std::function<void()> answered) {
    static const wl_callback_listener listener{
        .done =
            [](void* data, wl_callback*, std::uint32_t) {
                auto* self = static_cast<WaylandConnection*>(data);
                wl_callback_destroy(self->sync_);
                self->sync_ = nullptr;
                const std::function<void()> then = std::move(self->answered_);
                then();
            },
    };
    answered_ = std::move(answered);
    sync_ = wl_display_sync(display_);
    wl_callback_add_listener(sync_, &listener, this);
    wl_display_flush(display_);
}

void WaylandConnection::watch(std::function<void(const std::string& broke)> handled) {
    watch_ = RunLoop::main().watchFd(wl_display_get_fd(display_), kFdReadable,
                                     [this, handled = std::move(handled)](unsigned) {
                                         std::string broke;
                                         if (wl_display_dispatch(display_) < 0) {
                                             broke = std::strerror(wl_display_get_error(display_));
                                         } else {
                                             wl_display_flush(display_);
                                         }
                                         // A copy: the call may end this connection and its watch
                                         // with it.
                                         const auto tell = handled;
                                         tell(broke);
                                     });
}

WaylandOutput::~WaylandOutput() {
    if (output != nullptr) {
        version >= WL_OUTPUT_RELEASE_SINCE_VERSION ? wl_output_release(output)
                                                   : wl_output_destroy(output);
    }
}

void WaylandOutput::bind(wl_registry* registry, std::uint32_t id, std::uint32_t offered) {
    version = std::min(offered, kOutputVersion);
    output = static_cast<wl_output*>(wl_registry_bind(registry, id, &wl_output_interface, version));
    wl_output_add_listener(output, &kOutputListener, this);
}

}  // namespace orvel
