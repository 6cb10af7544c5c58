#include "platform/linux/WlrClickCatcher.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "foundation/RunLoop.h"
#include "platform/linux/UniqueFd.h"
#include "platform/linux/WaylandConnection.h"
#include "viewporter-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"

namespace orvel {

namespace {

constexpr double kAnswerSeconds = 2.0;
constexpr std::uint32_t kSeatVersion = 5;

}  // namespace

struct WlrClickCatcher::Cover {
    struct Output : WaylandOutput {
        Cover* cover = nullptr;
        LayoutBox box;  // where it lies, as it was asked to be covered
        WaylandHandle<wl_buffer, wl_buffer_destroy> buffer;
        WaylandHandle<wl_surface, wl_surface_destroy> surface;
        WaylandHandle<zwlr_layer_surface_v1, zwlr_layer_surface_v1_destroy> layer;
        WaylandHandle<wp_viewport, wp_viewport_destroy> viewport;
        bool drawn = false;

        void takeAway() {
            viewport.reset();
            layer.reset();
            surface.reset();
            buffer.reset();
        }
    };

    Cover(const std::vector<LayoutOutput>& toCover, LayoutBox toSpare,
          std::function<void()> whenPressed)
        : asked(toCover), spared(toSpare), pressed(std::move(whenPressed)) {}

    void answered();
    void makeSurfaces();
    void draw(Output& output, std::uint32_t width, std::uint32_t height);
    void closed(Output& output);
    void seatHas(std::uint32_t capabilities);

    const std::vector<LayoutOutput> asked;
    const LayoutBox spared;
    std::function<void()> pressed;
    // First made, last gone: what was made on it goes before it.
    std::unique_ptr<WaylandConnection> connection;
    WaylandHandle<wl_compositor, wl_compositor_destroy> compositor;
    WaylandHandle<wl_shm, wl_shm_destroy> shm;
    WaylandHandle<wp_viewporter, wp_viewporter_destroy> viewporter;
    WaylandHandle<zwlr_layer_shell_v1, zwlr_layer_shell_v1_destroy> shell;
    WaylandHandle<wl_seat, wl_seat_destroy> seat;
    WaylandHandle<wl_pointer, wl_pointer_destroy> pointer;
    std::vector<std::unique_ptr<Output>> outputs;
    int answers = 0;  // round trips the compositor has answered
    bool covering = false;
    bool wasPressed = false;
    bool over = false;
    std::string why;    // why nothing can be covered here, told once
    std::string error;  // why this cover broke off
    Timer limit;
};

namespace {

using Cover = WlrClickCatcher::Cover;

const wl_pointer_listener kPointerListener{
    .enter = [](void*, wl_pointer*, std::uint32_t, wl_surface*, wl_fixed_t, wl_fixed_t) {},
    .leave = [](void*, wl_pointer*, std::uint32_t, wl_surface*) {},
    .motion = [](void*, wl_pointer*, std::uint32_t, wl_fixed_t, wl_fixed_t) {},
    .button =
        [](void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t,
           std::uint32_t state) {
            if (state == WL_POINTER_BUTTON_STATE_PRESSED) {
                static_cast<Cover*>(data)->wasPressed = true;
            }
        },
    .axis = [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {},
    .frame = [](void*, wl_pointer*) {},
    .axis_source = [](void*, wl_pointer*, std::uint32_t) {},
    .axis_stop = [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},
    .axis_discrete = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
};

const wl_seat_listener kSeatListener{
    .capabilities =
        [](void* data, wl_seat*, std::uint32_t capabilities) {
            static_cast<Cover*>(data)->seatHas(capabilities);
        },
    .name = [](void*, wl_seat*, const char*) {},
};

const zwlr_layer_surface_v1_listener kLayerListener{
    .configure =
        [](void* out, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t width,
           std::uint32_t height) {
            auto* output = static_cast<Cover::Output*>(out);
            zwlr_layer_surface_v1_ack_configure(layer, serial);
            output->cover->draw(*output, width, height);
        },
    .closed =
        [](void* out, zwlr_layer_surface_v1*) {
            auto* output = static_cast<Cover::Output*>(out);
            output->cover->closed(*output);
        },
};

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t version) {
    auto* cover = static_cast<Cover*>(data);
    auto is = [&](const wl_interface& wanted) { return std::strcmp(interface, wanted.name) == 0; };
    auto bind = [&](auto& handle, const wl_interface& wanted, std::uint32_t at) {
        using Object = typename std::remove_reference_t<decltype(handle)>::element_type;
        handle.reset(static_cast<Object*>(wl_registry_bind(registry, name, &wanted, at)));
    };
    if (is(zwlr_layer_shell_v1_interface) && cover->shell == nullptr) {
        bind(cover->shell, zwlr_layer_shell_v1_interface, 1);
    } else if (is(wl_compositor_interface) && cover->compositor == nullptr) {
        bind(cover->compositor, wl_compositor_interface, 1);
    } else if (is(wp_viewporter_interface) && cover->viewporter == nullptr) {
        bind(cover->viewporter, wp_viewporter_interface, 1);
    } else if (is(wl_shm_interface) && cover->shm == nullptr) {
        bind(cover->shm, wl_shm_interface, 1);
    } else if (is(wl_seat_interface) && cover->seat == nullptr) {
        bind(cover->seat, wl_seat_interface, std::min(version, kSeatVersion));
        wl_seat_add_listener(cover->seat.get(), &kSeatListener, cover);
    } else if (is(wl_output_interface)) {
        auto output = std::make_unique<Cover::Output>();
        output->cover = cover;
        output->bind(registry, name, version);
        cover->outputs.push_back(std::move(output));
    }
}

const wl_registry_listener kRegistryListener{
    .global = onGlobal,
    .global_remove = [](void*, wl_registry*, std::uint32_t) {},
};

}  // namespace

// First the globals are bound, then the outputs have told their names, then the drawn cover has
// reached the compositor.
void WlrClickCatcher::Cover::answered() {
    ++answers;
    if (answers == 1) {
        if (shell == nullptr) {
            why = "the Wayland compositor offers no layer shell";
            over = true;
        } else if (compositor == nullptr || shm == nullptr) {
            why = "the Wayland compositor offers no surfaces in shared memory";
            over = true;
        } else {
            connection->roundTrip([this] { answered(); });
        }
    } else if (answers == 2) {
        makeSurfaces();
    } else {
        covering = true;
    }
}

void WlrClickCatcher::Cover::makeSurfaces() {
    for (auto& o : outputs) {
        const auto it = std::find_if(asked.begin(), asked.end(),
                                     [&](const LayoutOutput& a) { return a.name == o->name; });
        if (it == asked.end()) {
            continue;
        }
        o->box = it->box;
        o->surface.reset(wl_compositor_create_surface(compositor.get()));
        o->layer.reset(zwlr_layer_shell_v1_get_layer_surface(
            shell.get(), o->surface.get(), o->output, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "orvel"));
        zwlr_layer_surface_v1* layer = o->layer.get();
        zwlr_layer_surface_v1_add_listener(layer, &kLayerListener, o.get());
        // The whole output, over bars and their exclusive zones too.
        zwlr_layer_surface_v1_set_anchor(
            layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                       ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_exclusive_zone(layer, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(
            layer, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
        wl_surface_commit(o->surface.get());
    }
    if (std::none_of(outputs.begin(), outputs.end(),
                     [](const auto& o) { return o->surface != nullptr; })) {
        std::string names;
        for (const auto& a : asked) {
            names += (names.empty() ? "" : ", ") + a.name;
        }
        why = "the Wayland compositor names none of its outputs " +
              (names.empty() ? std::string("at all") : "as sway does (" + names + ")");
        over = true;
    }
}

void WlrClickCatcher::Cover::draw(Output& output, std::uint32_t width, std::uint32_t height) {
    if (width == 0 || height == 0 || width > 1u << 15 || height > 1u << 15) {
        error = "the compositor gave the cover no size";
        over = true;
        return;
    }
    // Transparent: a buffer of zeros, which the file's fresh pages are; one pixel of it, stretched
    // over the output, where the compositor can stretch it.
    wl_surface* surface = output.surface.get();
    if (viewporter != nullptr && output.viewport == nullptr) {
        output.viewport.reset(wp_viewporter_get_viewport(viewporter.get(), surface));
    }
    const std::int32_t side = output.viewport != nullptr ? 1 : static_cast<std::int32_t>(width);
    const std::int32_t rows = output.viewport != nullptr ? 1 : static_cast<std::int32_t>(height);
    const std::int32_t stride = side * 4;
    const std::int32_t size = stride * rows;
    UniqueFd memory(::memfd_create("orvel-cover", MFD_CLOEXEC));
    if (!memory || ::ftruncate(memory.get(), size) != 0) {
        error = std::string("no memory for the cover: ") + std::strerror(errno);
        over = true;
        return;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm.get(), memory.get(), size);
    output.buffer.reset(
        wl_shm_pool_create_buffer(pool, 0, side, rows, stride, WL_SHM_FORMAT_ARGB8888));
    wl_shm_pool_destroy(pool);
    if (output.viewport != nullptr) {
        wp_viewport_set_destination(output.viewport.get(), static_cast<std::int32_t>(width),
                                    static_cast<std::int32_t>(height));
    }
    // The pointer goes through to the spared window.
    wl_region* input = wl_compositor_create_region(compositor.get());
    wl_region_add(input, 0, 0, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    wl_region_subtract(input, spared.x - output.box.x, spared.y - output.box.y, spared.width,
                       spared.height);
    wl_surface_set_input_region(surface, input);
    wl_region_destroy(input);
    wl_surface_attach(surface, output.buffer.get(), 0, 0);
    wl_surface_damage(surface, 0, 0, static_cast<std::int32_t>(width),
                      static_cast<std::int32_t>(height));
    wl_surface_commit(surface);
    output.drawn = true;
    const bool allDrawn = std::all_of(outputs.begin(), outputs.end(), [](const auto& o) {
        return o->surface == nullptr || o->drawn;
    });
    if (allDrawn && !covering && !connection->awaitsAnswer()) {
        connection->roundTrip([this] { answered(); });
    }
}

void WlrClickCatcher::Cover::closed(Output& output) {
    output.takeAway();
    if (std::none_of(outputs.begin(), outputs.end(),
                     [](const auto& o) { return o->surface != nullptr; })) {
        error = "the compositor took the cover away";
        over = true;
    }
}

void WlrClickCatcher::Cover::seatHas(std::uint32_t capabilities) {
    const bool hasPointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (hasPointer && pointer == nullptr) {
        pointer.reset(wl_seat_get_pointer(seat.get()));
        wl_pointer_add_listener(pointer.get(), &kPointerListener, this);
    } else if (!hasPointer) {
        pointer.reset();
    }
}

WlrClickCatcher::WlrClickCatcher(std::string display) : display_(std::move(display)) {}

WlrClickCatcher::~WlrClickCatcher() = default;

void WlrClickCatcher::cover(const std::vector<LayoutOutput>& outputs, LayoutBox spared,
                            std::function<void()> pressed) {
    cover_ = std::make_unique<Cover>(outputs, spared, std::move(pressed));
    Cover* raw = cover_.get();
    raw->connection = WaylandConnection::open(display_, kRegistryListener, raw, raw->why);
    if (raw->connection == nullptr) {
        end();
        return;
    }
    raw->connection->roundTrip([raw] { raw->answered(); });
    raw->connection->watch([this, raw](const std::string& broke) {
        if (!broke.empty()) {
            raw->error = broke;
            raw->over = true;
        }
        if (raw->over || raw->wasPressed) {
            end();
        }
    });
    raw->limit = RunLoop::main().after(kAnswerSeconds, [this, raw] {
        if (!raw->covering) {
            raw->error = "the Wayland compositor did not take the cover within 2 s";
            end();
        }
    });
}

void WlrClickCatcher::uncover() {
    cover_.reset();
}

bool WlrClickCatcher::isCovering() const {
    return cover_ != nullptr && cover_->covering;
}

void WlrClickCatcher::end() {
    std::function<void()> pressed;
    {
        // Closes the connection, its watch and its timer, and so every surface, before the press
        // is told.
        const std::unique_ptr<Cover> done = std::move(cover_);
        if (!done->why.empty()) {
            tellOnce(done->why);
        } else if (!done->error.empty()) {
            log_.error("Orvel's panel will not close on a click outside it: " + done->error + ".");
        }
        if (done->wasPressed) {
            pressed = std::move(done->pressed);
        }
    }
    if (pressed) {
        pressed();
    }
}

void WlrClickCatcher::tellOnce(const std::string& why) {
    if (told_) {
        return;
    }
    told_ = true;
    log_.notice(
        "Orvel's panel closes on a click outside it only where the click moves the "
        "focus: " +
        why + ".");
}

}  // namespace orvel
