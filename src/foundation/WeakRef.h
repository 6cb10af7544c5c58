#pragma once

#include <memory>

namespace orvel {

// Lets deferred work (queued blocks, completions) refer to a main-thread object that is not owned
// through a shared_ptr, such as a shared service, and find out whether it still exists.
class WeakReferenceable {
  public:
    // Every weak reference made so far reports the object gone from now on, though it still
    // lives: for an object that has been retired and must hear from nothing any more.
    void dropWeakReferences() { alive_ = std::make_shared<char>(); }

  protected:
    WeakReferenceable() = default;
    WeakReferenceable(const WeakReferenceable&) = delete;
    WeakReferenceable& operator=(const WeakReferenceable&) = delete;

  private:
    template <class T>
    friend class WeakRef;
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

// A weak reference to a WeakReferenceable object; get() is null once the object is gone.
// Main-thread only: objects are destroyed there.
template <class T>
class WeakRef {
  public:
    WeakRef() = default;
    explicit WeakRef(T& object) : object_(&object), alive_(object.WeakReferenceable::alive_) {}

    T* get() const { return alive_.expired() ? nullptr : object_; }
    explicit operator bool() const { return get() != nullptr; }

  private:
    T* object_ = nullptr;
    std::weak_ptr<char> alive_;
};

template <class T>
WeakRef<T> weakRef(T& object) {
    return WeakRef<T>(object);
}

}  // namespace orvel
