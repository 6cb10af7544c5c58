#include "platform/sim/SimHotKeys.h"

#include <algorithm>

namespace orvel {

struct SimHotKeys::State {
    struct Registration {
        std::uint32_t keyCode;
        std::uint32_t modifiers;
    };
    std::uint64_t next = 1;
    std::map<std::uint64_t, std::function<void(std::uint32_t)>> handlers;
    std::map<std::uint64_t, std::pair<std::uint32_t, Registration>> registrations;
    std::map<std::uint64_t, std::function<void(const KeyPress&)>> global;
    std::map<std::uint64_t, std::function<bool(const KeyPress&)>> local;
};

namespace {

template <class Map>
class SimToken final : public HotKeyToken {
  public:
    SimToken(std::weak_ptr<SimHotKeys::State> state, Map SimHotKeys::State::*map, std::uint64_t key)
        : state_(std::move(state)), map_(map), key_(key) {}
    ~SimToken() override {
        if (auto state = state_.lock()) {
            ((*state).*map_).erase(key_);
        }
    }

  private:
    std::weak_ptr<SimHotKeys::State> state_;
    Map SimHotKeys::State::*map_;
    std::uint64_t key_;
};

template <class Map, class Value>
std::unique_ptr<HotKeyToken> add(const std::shared_ptr<SimHotKeys::State>& state,
                                 Map SimHotKeys::State::*map, Value value) {
    const std::uint64_t key = state->next++;
    ((*state).*map).emplace(key, std::move(value));
    return std::make_unique<SimToken<Map>>(state, map, key);
}

// Monitor flags as hot-key modifiers.
std::uint32_t hotKeyModifiers(std::uint64_t flags) {
    std::uint32_t modifiers = 0;
    if (flags & 0x100000)
        modifiers |= 0x0100;
    if (flags & 0x20000)
        modifiers |= 0x0200;
    if (flags & 0x10000)
        modifiers |= 0x0400;
    if (flags & 0x80000)
        modifiers |= 0x0800;
    if (flags & 0x40000)
        modifiers |= 0x1000;
    return modifiers;
}

}  // namespace

SimHotKeys::SimHotKeys() : state_(std::make_shared<State>()) {}

SimHotKeys::~SimHotKeys() = default;

std::unique_ptr<HotKeyToken> SimHotKeys::installHandler(
    std::function<void(std::uint32_t)> handler) {
    return add(state_, &State::handlers, std::move(handler));
}

std::unique_ptr<HotKeyToken> SimHotKeys::registerHotKey(std::uint32_t keyCode,
                                                        std::uint32_t modifiers, std::uint32_t id) {
    if (unavailable_) {
        return nullptr;
    }
    return add(state_, &State::registrations,
               std::pair{id, State::Registration{keyCode, modifiers}});
}

std::unique_ptr<HotKeyToken> SimHotKeys::addGlobalMonitor(
    std::function<void(const KeyPress&)> monitor) {
    if (monitorsRefused_) {
        return nullptr;
    }
    return add(state_, &State::global, std::move(monitor));
}

std::unique_ptr<HotKeyToken> SimHotKeys::addLocalMonitor(
    std::function<bool(const KeyPress&)> monitor) {
    return add(state_, &State::local, std::move(monitor));
}

SimHotKeys::Outcome SimHotKeys::press(std::uint16_t keyCode, std::uint64_t modifierFlags,
                                      bool inOrvel) {
    const std::uint32_t modifiers = hotKeyModifiers(modifierFlags);
    for (const auto& [key, registration] : state_->registrations) {
        if (registration.second.keyCode == keyCode && registration.second.modifiers == modifiers) {
            sendHotKeyEvent(registration.first);
            return Outcome::hotKey;
        }
    }
    const KeyPress pressed{keyCode, modifierFlags};
    if (!inOrvel) {
        auto monitors = state_->global;  // a monitor may remove itself
        for (auto& [key, monitor] : monitors) {
            monitor(pressed);
        }
        return Outcome::delivered;
    }
    return deliverLocalKey(pressed) ? Outcome::consumed : Outcome::delivered;
}

bool SimHotKeys::deliverLocalKey(const KeyPress& press) {
    auto monitors = state_->local;  // a monitor may remove itself
    for (auto& [key, monitor] : monitors) {
        if (monitor(press)) {
            return true;
        }
    }
    return false;
}

void SimHotKeys::sendHotKeyEvent(std::uint32_t id) {
    if (state_->handlers.empty()) {
        return;
    }
    auto handler = state_->handlers.rbegin()->second;
    handler(id);
}

std::vector<std::uint32_t> SimHotKeys::registeredIds() const {
    std::vector<std::uint32_t> ids;
    for (const auto& [key, registration] : state_->registrations) {
        ids.push_back(registration.first);
    }
    return ids;
}

std::size_t SimHotKeys::handlerCount() const {
    return state_->handlers.size();
}

std::size_t SimHotKeys::monitorCount() const {
    return state_->global.size() + state_->local.size();
}

}  // namespace orvel
