#pragma once

#include <unistd.h>
#include <wayland-server.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/RunLoop.h"
#include "wlr-output-power-management-unstable-v1-server-protocol.h"

namespace orvel::test {

// How an output of FakeCompositor takes set_mode.
enum class Takes { mode, refusal, nothing };

// A Wayland compositor of the test's own on the test's loop: it lists its outputs (wl_output 4,
// with their names) and, where told, the output power manager, whose outputs answer set_mode
// by switching (a mode event), refusing (failed) or not at all.
class FakeCompositor {
  public:
    struct Output {
        FakeCompositor* compositor = nullptr;
        std::string name;
        Takes takes = Takes::mode;
        bool on = true;
    };

    FakeCompositor(const std::vector<std::pair<std::string, Takes>>& outputs, bool offersPower)
        : display_(wl_display_create()),
          socket_(::testing::TempDir() + "/orvel-wl-" + std::to_string(::getpid()) + "-" +
                  std::to_string(++count_)) {
        ::unlink(socket_.c_str());
        if (wl_display_add_socket(display_, socket_.c_str()) != 0) {
            socket_.clear();
        }
        for (const auto& [name, takes] : outputs) {
            outputs_.push_back(std::make_unique<Output>(Output{this, name, takes}));
            wl_global_create(display_, &wl_output_interface, 4, outputs_.back().get(), bindOutput);
        }
        if (offersPower) {
            wl_global_create(display_, &zwlr_output_power_manager_v1_interface, 1, this,
                             bindManager);
        }
        // Each client's end is counted through a listener of its own.
        created_.notify = [](wl_listener* listener, void* data) {
            FakeCompositor* self = wl_container_of(listener, self, created_);
            auto* gone = new ClientGone{{}, self};
            gone->listener.notify = [](wl_listener* l, void*) {
                ClientGone* end = wl_container_of(l, end, listener);
                ++end->compositor->clientsGone;
                delete end;
            };
            wl_client_add_destroy_listener(static_cast<wl_client*>(data), &gone->listener);
        };
        wl_display_add_client_created_listener(display_, &created_);
        wl_event_loop* loop = wl_display_get_event_loop(display_);
        watch_ = RunLoop::main().watchFd(wl_event_loop_get_fd(loop), kFdReadable,
                                         [this, loop](unsigned) {
                                             wl_event_loop_dispatch(loop, 0);
                                             wl_display_flush_clients(display_);
                                         });
    }
    ~FakeCompositor() {
        watch_.cancel();
        wl_display_destroy_clients(display_);
        wl_display_destroy(display_);
    }

    const std::string& socket() const { return socket_; }
    std::vector<bool> powers() const {
        std::vector<bool> on;
        for (const auto& o : outputs_) {
            on.push_back(o->on);
        }
        return on;
    }
    int clientsGone = 0;  // connections the client closed

  private:
    static void bindOutput(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
        static const struct wl_output_interface implementation {
            .release = [](wl_client*, wl_resource* resource) { wl_resource_destroy(resource); },
        };
        auto* output = static_cast<Output*>(data);
        wl_resource* resource = wl_resource_create(client, &wl_output_interface, version, id);
        wl_resource_set_implementation(resource, &implementation, output, nullptr);
        if (version >= WL_OUTPUT_NAME_SINCE_VERSION) {
            wl_output_send_name(resource, output->name.c_str());
        }
        wl_output_send_done(resource);
    }
    static void bindManager(wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
        static const struct zwlr_output_power_manager_v1_interface implementation {
            .get_output_power =
                [](wl_client* c, wl_resource* manager, std::uint32_t powerId,
                   wl_resource* outputResource) {
                    static const struct zwlr_output_power_v1_interface power {
                        .set_mode =
                            [](wl_client*, wl_resource* r, std::uint32_t mode) {
                                auto* o = static_cast<Output*>(wl_resource_get_user_data(r));
                                if (o->takes == Takes::mode) {
                                    o->on = mode == ZWLR_OUTPUT_POWER_V1_MODE_ON;
                                    zwlr_output_power_v1_send_mode(r, mode);
                                } else if (o->takes == Takes::refusal) {
                                    zwlr_output_power_v1_send_failed(r);
                                }
                            },
                        .destroy = [](wl_client*, wl_resource* r) { wl_resource_destroy(r); },
                    };
                    auto* output = static_cast<Output*>(wl_resource_get_user_data(outputResource));
                    wl_resource* resource =
                        wl_resource_create(c, &zwlr_output_power_v1_interface,
                                           wl_resource_get_version(manager), powerId);
                    wl_resource_set_implementation(resource, &power, output, nullptr);
                    zwlr_output_power_v1_send_mode(resource, output->on
                                                                 ? ZWLR_OUTPUT_POWER_V1_MODE_ON
                                                                 : ZWLR_OUTPUT_POWER_V1_MODE_OFF);
                },
            .destroy = [](wl_client*, wl_resource* r) { wl_resource_destroy(r); },
        };
        wl_resource* resource =
            wl_resource_create(client, &zwlr_output_power_manager_v1_interface, version, id);
        wl_resource_set_implementation(resource, &implementation, nullptr, nullptr);
    }

    struct ClientGone {
        wl_listener listener;
        FakeCompositor* compositor;
    };

    static inline int count_ = 0;
    wl_display* display_;
    std::string socket_;
    std::vector<std::unique_ptr<Output>> outputs_;
    wl_listener created_{};
    FdWatch watch_;
};

}  // namespace orvel::test
