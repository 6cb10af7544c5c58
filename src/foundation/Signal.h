#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace orvel {

// Keeps a subscription alive; destroying or cancelling it disconnects the handler. Safe to
// destroy after the signal it came from is gone, and from inside the handler itself.
class [[nodiscard]] Subscription {
  public:
    Subscription() = default;
    explicit Subscription(std::function<void()> disconnect) : disconnect_(std::move(disconnect)) {}
    Subscription(Subscription&& other) noexcept
        : disconnect_(std::exchange(other.disconnect_, {})) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            cancel();
            disconnect_ = std::exchange(other.disconnect_, {});
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { cancel(); }

    void cancel() {
        if (auto disconnect = std::exchange(disconnect_, {})) {
            disconnect();
        }
    }
    bool isActive() const { return static_cast<bool>(disconnect_); }

  private:
    std::function<void()> disconnect_;
};

// Several subscriptions that end together.
using SubscriptionBag = std::vector<Subscription>;

// A list of handlers called in subscription order. Main-thread only. Handlers may subscribe
// or cancel (themselves or others) while the signal is being sent: a handler cancelled during a
// send is not called afterwards, one added during a send is called from the next send on.
template <class... Args>
class Signal {
  public:
    Signal() = default;
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;
    ~Signal() {
        state_->subscribersChanged = nullptr;
        for (auto& slot : state_->slots) {
            slot->connected = false;
        }
    }

    // Const: following an object does not change it.
    Subscription subscribe(std::function<void(const Args&...)> handler) const {
        auto slot = std::make_shared<Slot>(Slot{std::move(handler), true});
        state_->slots.push_back(slot);
        std::weak_ptr<State> weakState = state_;
        std::weak_ptr<Slot> weakSlot = slot;
        Subscription subscription([weakState, weakSlot] {
            auto strongSlot = weakSlot.lock();
            if (!strongSlot) {
                return;
            }
            strongSlot->connected = false;
            if (auto state = weakState.lock()) {
                std::erase(state->slots, strongSlot);
                state->tellSubscribersChanged();
            }
        });
        state_->tellSubscribersChanged();
        return subscription;
    }

    void send(const Args&... args) const {
        // Iterate over a snapshot so handlers can change the list.
        const auto snapshot = state_->slots;
        for (const auto& slot : snapshot) {
            if (slot->connected) {
                // Copy: the handler may cancel its own subscription while it runs.
                auto handler = slot->handler;
                handler(args...);
            }
        }
    }

    std::size_t subscriberCount() const { return state_->slots.size(); }

    // Called after each subscription and each cancellation, so that the owner can do work only
    // while someone listens. The owner clears it before it goes.
    void setSubscribersChanged(std::function<void()> changed) {
        state_->subscribersChanged = std::move(changed);
    }

  private:
    struct Slot {
        std::function<void(const Args&...)> handler;
        bool connected;
    };
    struct State {
        std::vector<std::shared_ptr<Slot>> slots;
        std::function<void()> subscribersChanged;

        void tellSubscribersChanged() {
            if (auto changed = subscribersChanged) {
                changed();
            }
        }
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace orvel
