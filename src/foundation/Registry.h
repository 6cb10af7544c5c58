#pragma once

#include <functional>
#include <memory>
#include <set>
#include <typeindex>
#include <vector>

namespace orvel {

// Instances kept by type, each created on first use and destroyed by reset() (or with the store)
// in the reverse order of their creation, so an instance outlives every one created after it.
// Main-thread only.
class InstanceStore {
  public:
    InstanceStore() = default;
    ~InstanceStore() { reset(); }
    InstanceStore(const InstanceStore&) = delete;
    InstanceStore& operator=(const InstanceStore&) = delete;

    // Returns the instance of T, creating it with make() when there is none. Asking for T
    // again while T's own constructor runs is a programming error and aborts.
    template <class T>
    T& instance(const std::function<std::unique_ptr<T>()>& make) {
        void* found = find(typeid(T));
        if (found != nullptr) {
            return *static_cast<T*>(found);
        }
        beginCreation(typeid(T));
        std::unique_ptr<T> created = make();
        T& ref = *created;
        adopt(typeid(T), created.release(), [](void* p) { delete static_cast<T*>(p); });
        return ref;
    }

    // The instance of T if there is one now (without creating one).
    template <class T>
    T* existing() const {
        return static_cast<T*>(find(typeid(T)));
    }

    // Destroys every instance, newest first. Instances created while the reset runs are
    // destroyed too.
    void reset();

    std::size_t count() const { return entries_.size(); }

  private:
    struct Entry {
        std::type_index type;
        void* instance;
        void (*destroy)(void*);
    };

    void* find(std::type_index type) const;
    void beginCreation(std::type_index type);
    void adopt(std::type_index type, void* instance, void (*destroy)(void*));

    std::vector<Entry> entries_;  // creation order
    std::set<std::type_index> creating_;
};

// The process-wide store of the small singletons without neighbours (the texts' catalogues, the
// in-process notifications). Services are not kept here: the graph that builds them owns them.
class Registry {
  public:
    template <class T>
    static T& instance(const std::function<std::unique_ptr<T>()>& make) {
        return store().instance<T>(make);
    }
    template <class T>
    static T* existing() {
        return store().existing<T>();
    }
    static void reset() { store().reset(); }
    static std::size_t count() { return store().count(); }

  private:
    static InstanceStore& store();
};

// shared() of a small singleton with no neighbours: its private constructor stays reachable.
#define ORVEL_SHARED_INSTANCE(Type) \
    ::orvel::Registry::instance<Type>([] { return std::unique_ptr<Type>(new Type()); })

}  // namespace orvel
