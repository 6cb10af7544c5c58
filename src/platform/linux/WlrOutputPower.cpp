#include "platform/linux/WlrOutputPower.h"

#include <wayland-client.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "foundation/RunLoop.h"
#include "platform/linux/WaylandConnection.h"
#include "wlr-output-power-management-unstable-v1-client-protocol.h"

namespace orvel {

namespace {

constexpr double kAnswerSeconds = 2.0;

}  // namespace

struct WlrOutputPower::Exchange {
    struct Output : WaylandOutput {
        Exchange* exchange = nullptr;
        WaylandHandle<zwlr_output_power_v1, zwlr_output_power_v1_destroy> power;
        std::optional<std::uint32_t> mode;
        bool failed = false;
    };

    explicit Exchange(bool sleep) : sleeps(sleep) {}

    void globalsListed();
    void switchOff();
    // Once the compositor has answered set_mode, the exchange is over when every output is off
    // or refused; one that turns off later than that is waited for until the limit.
    void settle() {
        over = answered && std::all_of(outputs.begin(), outputs.end(), [](const auto& o) {
                   return o->failed || o->mode == ZWLR_OUTPUT_POWER_V1_MODE_OFF;
               });
    }

    const bool sleeps;
    // First made, last gone: what was made on it goes before it.
    std::unique_ptr<WaylandConnection> connection;
    WaylandHandle<zwlr_output_power_manager_v1, zwlr_output_power_manager_v1_destroy> manager;
    std::vector<std::unique_ptr<Output>> outputs;
    bool switched = false;  // set_mode was sent
    bool answered = false;  // and answered
    bool over = false;
    std::string error;  // why the exchange broke off
    DisplaySleepDone done;
    Timer limit;
};

namespace {

using Exchange = WlrOutputPower::Exchange;

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t version) {
    auto* exchange = static_cast<Exchange*>(data);
    if (std::strcmp(interface, zwlr_output_power_manager_v1_interface.name) == 0 &&
        exchange->manager == nullptr) {
        exchange->manager.reset(static_cast<zwlr_output_power_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_output_power_manager_v1_interface, 1)));
    } else if (exchange->sleeps && std::strcmp(interface, wl_output_interface.name) == 0) {
        auto output = std::make_unique<Exchange::Output>();
        output->exchange = exchange;
        output->bind(registry, name, version);
        output->name = "output " + std::to_string(name);
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

}  // namespace

void WlrOutputPower::Exchange::globalsListed() {
    if (sleeps && manager != nullptr) {
        switchOff();
    } else {
        over = true;
    }
}

void WlrOutputPower::Exchange::switchOff() {
    switched = true;
    for (auto& o : outputs) {
        o->power.reset(zwlr_output_power_manager_v1_get_output_power(manager.get(), o->output));
        zwlr_output_power_v1_add_listener(o->power.get(), &kPowerListener, o.get());
        zwlr_output_power_v1_set_mode(o->power.get(), ZWLR_OUTPUT_POWER_V1_MODE_OFF);
    }
    connection->roundTrip([this] {
        answered = true;
        settle();
    });
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
    raw->connection = WaylandConnection::open(display_, kRegistryListener, raw, raw->error);
    if (raw->connection == nullptr) {
        finish(*raw);
        return;
    }
    raw->connection->roundTrip([raw] { raw->globalsListed(); });
    raw->connection->watch([this, raw](const std::string& broke) {
        if (!broke.empty()) {
            raw->error = broke;
            raw->over = true;
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
