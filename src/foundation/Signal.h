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
        for (auto& slot : *slots_) {
            slot->connected = false;
        }
    }

    Subscription subscribe(std::function<void(const Args&...)> handler) {
        auto slot = std::make_shared<Slot>(Slot{std::move(handler), true});
        slots_->push_back(slot);
        std::weak_ptr<std::vector<std::shared_ptr<Slot>>> weakSlots = slots_;
        std::weak_ptr<Slot> weakSlot = slot;
        return Subscription([weakSlots, weakSlot] {
            auto strongSlot = weakSlot.lock();
            if (!strongSlot) {
                return;
            }
            strongSlot->connected = false;
            if (auto slots = weakSlots.lock()) {
                std::erase(*slots, strongSlot);
            }
        });
    }

    void send(const Args&... args) const {
        // Iterate over a snapshot so handlers can change the list.
        const auto snapshot = *slots_;
        for (const auto& slot : snapshot) {
            if (slot->connected) {
                // Copy: the handler may cancel its own subscription while it runs.
                auto handler = slot->handler;
                handler(args...);
            }
        }
    }

    std::size_t subscriberCount() const { return slots_->size(); }

  private:
    struct Slot {
        std::function<void(const Args&...)> handler;
        bool connected;
    };
    std::shared_ptr<std::vector<std::shared_ptr<Slot>>> slots_ =
        std::make_shared<std::vector<std::shared_ptr<Slot>>>();
};

}  // namespace orvel
