#pragma once

#include <functional>
#include <utility>

#include "foundation/RunLoop.h"
#include "foundation/Signal.h"

namespace orvel {

// An object whose published properties announce every change through one signal; view hosts
// listen to it to re-evaluate what they show.
class ObservableObject {
  public:
    ObservableObject() = default;
    ObservableObject(const ObservableObject&) = delete;
    ObservableObject& operator=(const ObservableObject&) = delete;
    virtual ~ObservableObject() = default;

    // Sent before each assignment to any published property of the object.
    Signal<> objectWillChange;
};

// An observable property. Every assignment notifies, whether or not the value changed: first
// the owner's objectWillChange, then (after the value is stored) each subscriber with the new
// value, and last the owner's own didSet action, if it has one. Main-thread only.
template <class T>
class Published {
  public:
    explicit Published(ObservableObject& owner, T initial = T{},
                       std::function<void()> didSet = nullptr)
        : owner_(&owner), value_(std::move(initial)), didSet_(std::move(didSet)) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& get() const { return value_; }
    const T& operator()() const { return value_; }

    void set(T value) {
        ORVEL_ASSERT_MAIN_THREAD("Published assignment");
        owner_->objectWillChange.send();
        value_ = std::move(value);
        changed_.send(value_);
        if (didSet_) {
            didSet_();
        }
    }
    Published& operator=(T value) {
        set(std::move(value));
        return *this;
    }

    // Called with each later value; the current value is not replayed.
    Subscription subscribe(std::function<void(const T&)> handler) const {
        ORVEL_ASSERT_MAIN_THREAD("Published::subscribe");
        return changed_.subscribe(std::move(handler));
    }

  private:
    ObservableObject* owner_;
    T value_;
    Signal<T> changed_;
    std::function<void()> didSet_;
};

// A published property that only its owner assigns: everyone else reads it and subscribes to it.
template <class T, class Owner>
class ReadOnlyPublished {
  public:
    explicit ReadOnlyPublished(ObservableObject& owner, T initial = T{})
        : value_(owner, std::move(initial)) {}

    const T& get() const { return value_.get(); }
    const T& operator()() const { return value_(); }

    // Called with each later value; the current value is not replayed.
    Subscription subscribe(std::function<void(const T&)> handler) {
        return value_.subscribe(std::move(handler));
    }

  private:
    friend Owner;
    ReadOnlyPublished& operator=(T value) {
        value_.set(std::move(value));
        return *this;
    }

    Published<T> value_;
};

}  // namespace orvel
