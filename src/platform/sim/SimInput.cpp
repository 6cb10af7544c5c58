#include "platform/sim/SimInput.h"

#include <utility>

namespace orvel {

struct SimInput::State {
    mutable std::mutex mutex;  // observers are read by the thread that sends values
    std::map<std::uint64_t, int> silenced;
    std::map<std::uint64_t, std::shared_ptr<InputValueCallback>> observers;
    struct Tap {
        std::uint64_t mask = 0;
        TapCallback callback;
        bool enabled = true;
    };
    std::optional<Tap> tap;
    std::uint64_t tapGeneration = 0;
};

namespace {

class SimHold final : public InputHold {
  public:
    SimHold(std::weak_ptr<SimInput::State> state, std::vector<std::uint64_t> devices, bool silence)
        : state_(std::move(state)), devices_(std::move(devices)), silence_(silence) {}
    ~SimHold() override {
        auto state = state_.lock();
        if (!state) {
            return;
        }
        std::lock_guard lock(state->mutex);
        for (auto id : devices_) {
            if (silence_) {
                if (--state->silenced[id] <= 0) {
                    state->silenced.erase(id);
                }
            } else {
                state->observers.erase(id);
            }
        }
    }

  private:
    std::weak_ptr<SimInput::State> state_;
    std::vector<std::uint64_t> devices_;
    bool silence_;
};

class SimTapHandle final : public EventTapHandle {
  public:
    SimTapHandle(std::weak_ptr<SimInput::State> state, std::uint64_t generation)
        : state_(std::move(state)), generation_(generation) {}
    ~SimTapHandle() override {
        if (auto state = live()) {
            state->tap.reset();
        }
    }
    void setEnabled(bool enabled) override {
        if (auto state = live()) {
            state->tap->enabled = enabled;
        }
    }

  private:
    std::shared_ptr<SimInput::State> live() const {
        auto state = state_.lock();
        return state && state->tap && state->tapGeneration == generation_ ? state : nullptr;
    }
    std::weak_ptr<SimInput::State> state_;
    std::uint64_t generation_;
};

std::uint32_t pageOf(std::uint32_t type) {
    return type >= 10 && type <= 12 ? 0x07 : 0x01;
}

}  // namespace

SimInput::SimInput() : state_(std::make_shared<State>()) {}

SimInput::~SimInput() = default;

InputHoldResult SimInput::silence(const std::vector<HidDevice>& devices) {
    InputHoldResult result;
    for (const auto& device : devices) {
        if (way_ != BlockingWay::perDevice) {
            result.failures.push_back({device.id, "devices cannot be switched off one by one"});
        } else if (failSilence_.count(device.id) != 0) {
            result.failures.push_back({device.id, "the device is busy"});
        } else {
            result.held.push_back(device.id);
        }
    }
    if (!result.held.empty()) {
        std::lock_guard lock(state_->mutex);
        for (auto id : result.held) {
            ++state_->silenced[id];
        }
        result.hold = std::make_unique<SimHold>(state_, result.held, true);
    }
    return result;
}

InputHoldResult SimInput::observe(const std::vector<HidDevice>& devices,
                                  InputValueCallback onValue) {
    InputHoldResult result;
    for (const auto& device : devices) {
        if (way_ != BlockingWay::tapWithCorrelation) {
            result.failures.push_back({device.id, "devices are not watched on this system"});
        } else if (failOpen_.count(device.id) != 0) {
            result.failures.push_back({device.id, "the device cannot be opened"});
        } else {
            result.held.push_back(device.id);
        }
    }
    if (!result.held.empty()) {
        auto callback = std::make_shared<InputValueCallback>(std::move(onValue));
        std::lock_guard lock(state_->mutex);
        for (auto id : result.held) {
            state_->observers[id] = callback;
        }
        result.hold = std::make_unique<SimHold>(state_, result.held, false);
    }
    return result;
}

std::unique_ptr<EventTapHandle> SimInput::create(std::uint64_t mask, TapCallback callback) {
    if (failTap_) {
        return nullptr;
    }
    state_->tap = State::Tap{mask, std::move(callback), true};
    return std::make_unique<SimTapHandle>(state_, ++state_->tapGeneration);
}

std::optional<CursorPoint> SimInput::location() {
    return cursorReadable_ ? std::optional(cursor_) : std::nullopt;
}

void SimInput::warp(CursorPoint point) {
    cursor_ = point;
    warps_.push_back(point);
}

SimInput::Verdict SimInput::send(std::uint64_t device, std::uint32_t type) {
    TapEvent event;
    event.type = type;
    event.location = cursor_;
    return deliver(device, event);
}

SimInput::Verdict SimInput::sendMotion(std::uint64_t device, double dx, double dy,
                                       std::uint32_t type) {
    TapEvent event;
    event.type = type;
    event.location = {cursor_.x + dx, cursor_.y + dy};
    event.deltaX = static_cast<std::int64_t>(dx);
    event.deltaY = static_cast<std::int64_t>(dy);
    return deliver(device, event);
}

void SimInput::sendValue(std::uint64_t device, std::uint32_t usagePage) {
    std::shared_ptr<InputValueCallback> callback;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->silenced.count(device) != 0) {
            return;
        }
        if (auto it = state_->observers.find(device); it != state_->observers.end()) {
            callback = it->second;
        }
    }
    if (callback) {
        (*callback)(usagePage);
    }
}

void SimInput::disableTap() {
    if (!state_->tap) {
        return;
    }
    state_->tap->enabled = false;
    TapEvent event;
    event.type = tap_event::kDisabledByTimeout;
    auto callback = state_->tap->callback;
    callback(event.type, &event);
}

SimInput::Verdict SimInput::deliver(std::uint64_t device, TapEvent event) {
    Verdict verdict = Verdict::passed;
    bool silenced = false;
    {
        std::lock_guard lock(state_->mutex);
        silenced = state_->silenced.count(device) != 0;
    }
    if (silenced) {
        verdict = Verdict::silenced;
    } else {
        sendValue(device, pageOf(event.type));
        const TapEvent original = event;
        TapEvent* out = &event;
        if (state_->tap && state_->tap->enabled && event.type < 64 &&
            (state_->tap->mask & (std::uint64_t{1} << event.type)) != 0) {
            auto callback = state_->tap->callback;  // the callback may remove the tap
            out = callback(event.type, &event);
        }
        if (out == nullptr) {
            verdict = Verdict::dropped;
        } else {
            verdict = *out == original ? Verdict::passed : Verdict::rewritten;
            const bool motion =
                out->type == 5 || out->type == 6 || out->type == 7 || out->type == 27;
            if (motion) {
                cursor_ = out->location;
            }
        }
    }
    records_.push_back({device, event.type, verdict});
    return verdict;
}

bool SimInput::tapInstalled() const {
    return state_->tap.has_value();
}

bool SimInput::tapEnabled() const {
    return state_->tap && state_->tap->enabled;
}

std::uint64_t SimInput::tapMask() const {
    return state_->tap ? state_->tap->mask : 0;
}

std::set<std::uint64_t> SimInput::silenced() const {
    std::lock_guard lock(state_->mutex);
    std::set<std::uint64_t> ids;
    for (const auto& [id, count] : state_->silenced) {
        ids.insert(id);
    }
    return ids;
}

std::set<std::uint64_t> SimInput::observed() const {
    std::lock_guard lock(state_->mutex);
    std::set<std::uint64_t> ids;
    for (const auto& [id, callback] : state_->observers) {
        ids.insert(id);
    }
    return ids;
}

}  // namespace orvel
