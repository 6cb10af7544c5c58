#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/RunLoop.h"

struct wl_callback;
struct wl_display;
struct wl_output;
struct wl_registry;
struct wl_registry_listener;

namespace orvel {

// A Wayland object of this process's own, destroyed with its handle (the protocol's destroy or
// release request).
template <auto Destroy>
struct WaylandDestroy {
    template <class T>
    void operator()(T* object) const {
        Destroy(object);
    }
};
template <class T, auto Destroy>
using WaylandHandle = std::unique_ptr<T, WaylandDestroy<Destroy>>;

// A connection of this process's own to the Wayland compositor, beside the toolkit's, on the
// main loop. What is made on it must go before it does. Threading: main thread only.
class WaylandConnection {
  public:
    // Connects to `display` ($WAYLAND_DISPLAY: a name under $XDG_RUNTIME_DIR or a path) and lists
    // its globals to `globals` (with `data`); null, and why in `why`, where it cannot.
    static std::unique_ptr<WaylandConnection> open(const std::string& display,
                                                   const wl_registry_listener& globals, void* data,
                                                   std::string& why);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    wl_display* display() const { return display_; }
    wl_registry* registry() const { return registry_; }
    // `answered` once the compositor has answered everything asked before; one at a time.
    void roundTrip(std::function<void()> answered);
    bool awaitsAnswer() const { return sync_ != nullptr; }
    // Handles the compositor's events as they come, then calls `handled` with why the
    // connection broke (empty while it holds); `handled` may destroy the connection.
    void watch(std::function<void(const std::string& broke)> handled);

  private:
    WaylandConnection() = default;

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_callback* sync_ = nullptr;
    std::function<void()> answered_;
    FdWatch watch_;
};

// An output the compositor lists, with the name it gives it (wl_output 4, else none).
struct WaylandOutput {
    WaylandOutput() = default;
    ~WaylandOutput();
    WaylandOutput(const WaylandOutput&) = delete;
    WaylandOutput& operator=(const WaylandOutput&) = delete;

    // Binds the global `id`, offered at `version`, to this; the name comes with its events.
    void bind(wl_registry* registry, std::uint32_t id, std::uint32_t version);

    wl_output* output = nullptr;
    std::uint32_t version = 1;
    std::string name;
};

}  // namespace orvel
