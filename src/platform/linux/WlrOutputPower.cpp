#include "platform/linux/WlrOutputPower.h"

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "foundation/RunLoop.h"
#include "wlr-output-power-management-unstable-v1-client-protocol.h"

namespace orvel {

namespace {

constexpr double kAnswerSeconds = 2.0;
constexpr std::uint32_t kOutputVersion = 4;  // the first to tell the output's name

}  // namespace

struct WlrOutputPower::Exchange {
    struct Output {
        Exchange* exchange = nullptr;
        wl_output* output = nullptr;
        std::uint32_t version = 1;
        std::string name;
        zwlr_output_power_v1* power = nullptr;
        std::optional<std::uint32_t> mode;
        bool failed = false;
    };

    explicit Exchange(bool sleep) : sleeps(sleep) {}
    ~Exchange() {
        for (auto& o : outputs) {
            if (o->power != nullptr) {
                zwlr_output_power_v1_destroy(o->power);
            }
            if (o->output != nullptr) {
                o->version >= WL_OUTPUT_RELEASE_SINCE_VERSION ? wl_output_release(o->output)
                                                              : wl_output_destroy(o->output);
            }
        }
        if (manager != nullptr) {
            zwlr_output_power_manager_v1_destroy(manager);
        }
        if (sync != nullptr) {
            wl_callback_destroy(sync);
        }
        if (registry != nullptr) {
            wl_registry_destroy(registry);
        }
        if (display != nullptr) {
            wl_display_disconnect(display);
        }
    }
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    void roundTrip();
    void switchOff();
    // Once the compositor has answered set_mode, the exchange is over when every output is off
    // or refused; one that turns off later than that is waited for until the limit.
    void settle() {
        over = answered && std::all_of(outputs.begin(), outputs.end(), [](const auto& o) {
                   return o->failed || o->mode == ZWLR_OUTPUT_POWER_V1_MODE_OFF;
               });
    }

    const bool sleeps;
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    zwlr_output_power_manager_v1* manager = nullptr;
    std::vector<std::unique_ptr<Output>> outputs;
    wl_callback* sync = nullptr;
    bool switched = false;  // set_mode was sent
    bool answered = false;  // and answered
    bool over = false;
    std::string error;  // why the exchange broke off
    DisplaySleepDone done;
    FdWatch watch;
    Timer limit;
};

namespace {

using Exchange = WlrOutputPower::Exchange;

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t version) {
    auto* exchange = static_cast<Exchange*>(data);
    if (std::strcmp(interface, zwlr_output_power_manager_v1_interface.name) == 0 &&
        exchange->manager == nullptr) {
        exchange->manager = static_cast<zwlr_output_power_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_output_power_manager_v1_interface, 1));
    } else if (exchange->sleeps && std::strcmp(interface, wl_output_interface.name) == 0) {
        static const wl_output_listener listener{
            .geometry = [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t,
                           std::int32_t, std::int32_t, const char*, const char*, std::int32_t) {},
            .mode = [](void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t,
                       std::int32_t) {},
            .done = [](void*, wl_output*) {},
            .scale = [](void*, wl_output*, std::int32_t) {},
            .name = [](void* out, wl_output*,
                       const char* text) { static_cast<Exchange::Output*>(out)->name = text; },
            .description = [](void*, wl_output*, const char*) {},
        };
        auto output = std::make_unique<Exchange::Output>();
        output->exchange = exchange;
        output->version = std::min(version, kOutputVersion);
        output->name = "output " + std::to_string(name);
        output->output = static_cast<wl_output*>(
            wl_registry_bind(registry, name, &wl_output_interface, output->version));
        wl_output_add_listener(output->output, &listener, output.get());
        exchange->outputs.push_back(std::move(output));
    }
}

const wl_registry_listener kRegistryListener{
    .global = onGlobal,
    .global_remove = [](void*, wl_registry*, std::uint32_t) {},
};

const zwlr_output_power_v1_listener kPowerListener{
    .mode =
        [](void* out, zwlr_output_power_v1*, std::uint32_t mode) {
            auto* output = static_cast<Exchange::Output*>(out);
            output->mode = mode;
            output->exchange->settle();
        },
    .failed =
        [](void* out, zwlr_output_power_v1*) {
            auto* output = static_cast<Exchange::Output*>(out);
            output->failed = true;
            output->exchange->settle();
        },
};

const wl_callback_listener kSyncListener{
    .done =
        [](void* data, wl_callback*, std::uint32_t) {
            auto* exchange = static_cast<Exchange*>(data);
            wl_callback_destroy(exchange->sync);
            exchange->sync = nullptr;
            if (exchange->sleeps && exchange->manager != nullptr && !exchange->switched) {
                exchange->switchOff();
            } else if (exchange->switched) {
                exchange->answered = true;
                exchange->settle();
            } else {
                exchange->over = true;
            }
        },
};

}  // namespace

// Everything asked before it has been answered once the compositor answers the sync.
void WlrOutputPower::Exchange::roundTrip() {
    sync = wl_display_sync(display);
    wl_callback_add_listener(sync, &kSyncListener, this);
}

void WlrOutputPower::Exchange::switchOff() {
    switched = true;
    for (auto& o : outputs) {
        o->power = zwlr_output_power_manager_v1_get_output_power(manager, o->output);
        zwlr_output_power_v1_add_listener(o->power, &kPowerListener, o.get());
        zwlr_output_power_v1_set_mode(o->power, ZWLR_OUTPUT_POWER_V1_MODE_OFF);
    }
    roundTrip();
}

WlrOutputPower::WlrOutputPower(std::string display) : display_(std::move(display)) {
    if (!display_.empty()) {
        start(false);
    }
}

WlrOutputPower::~WlrOutputPower() = default;

void WlrOutputPower::sleepAll(DisplaySleepDone done) {
    start(true, std::move(done));
}

void WlrOutputPower::start(bool sleep, DisplaySleepDone done) {
    auto& slot = sleep ? sleep_ : probe_;
    slot = std::make_unique<Exchange>(sleep);
    Exchange* raw = slot.get();
    raw->done = std::move(done);
    if (display_.empty() || (raw->display = wl_display_connect(display_.c_str())) == nullptr) {
        raw->error = display_.empty() ? std::string("no Wayland display is set")
                                      : display_ + ": " + std::strerror(errno);
        finish(*raw);
        return;
    }
    raw->registry = wl_display_get_registry(raw->display);
    wl_registry_add_listener(raw->registry, &kRegistryListener, raw);
    raw->roundTrip();
    wl_display_flush(raw->display);
    raw->watch = RunLoop::main().watchFd(
        wl_display_get_fd(raw->display), kFdReadable, [this, raw](unsigned) {
            if (wl_display_dispatch(raw->display) < 0) {
                raw->error = std::strerror(wl_display_get_error(raw->display));
                raw->over = true;
            } else {
                wl_display_flush(raw->display);
            }
            if (raw->over) {
                finish(*raw);
            }
        });
    raw->limit = RunLoop::main().after(kAnswerSeconds, [this, raw] {
        if (!raw->answered) {
            raw->error = "it did not answer within 2 s";
        }
        finish(*raw);
    });
}

void WlrOutputPower::finish(Exchange& exchange) {
    // Ends the connection, its watch and its timer when this returns.
    const std::unique_ptr<Exchange> done = std::move(exchange.sleeps ? sleep_ : probe_);
    if (!done->sleeps) {
        offered_ = done->error.empty() && done->manager != nullptr;
        if (!done->error.empty()) {
            log_.notice(
                "The Wayland compositor could not be asked whether it can switch its "
                "outputs off: " +
                done->error);
        }
        return;
    }
    DisplaySleepOutcome outcome;
    auto tell = [&] {
        if (done->done) {
            done->done(outcome);
        }
    };
    if (!done->error.empty()) {
        log_.error("The Wayland compositor could not be asked to switch its outputs off: " +
                   done->error);
        outcome.failed = true;
        tell();
        return;
    }
    if (done->manager == nullptr) {
        log_.error("The Wayland compositor no longer offers to switch its outputs off.");
        outcome.failed = true;
        tell();
        return;
    }
    if (done->outputs.empty()) {
        log_.notice("The Wayland compositor has no output to switch off.");
        tell();
        return;
    }
    std::string off;
    std::string notOff;
    for (const auto& o : done->outputs) {
        if (!o->failed && o->mode == ZWLR_OUTPUT_POWER_V1_MODE_OFF) {
            off += (off.empty() ? "" : ", ") + o->name;
        } else {
            outcome.stillOn.push_back(o->name);
            notOff += (notOff.empty() ? "" : "; ") + o->name +
                      (o->failed ? " refused (another program controls its power, or it has none)"
                                 : " is still on");
        }
    }
    if (notOff.empty()) {
        log_.info("The Wayland compositor switched every output off (" + off + ").");
    } else {
        log_.error("The Wayland compositor did not switch every output off: " + notOff + ".");
    }
    tell();
}

}  // namespace orvel
