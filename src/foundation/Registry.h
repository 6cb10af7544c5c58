#pragma once

#include <functional>
#include <memory>
#include <typeindex>

namespace orvel {

// The process-wide home of shared instances: the services the graph builds and the small
// singletons without neighbours. Each instance is created on first use and lives until reset()
// (or the end of the process), which destroys instances in the reverse order of their creation,
// so a service outlives every service created after it. Main-thread only.
class Registry {
  public:
    // Returns the instance of T, creating it with make() when there is none. Asking for T
    // again while T's own constructor runs is a programming error and aborts.
    template <class T>
    static T& instance(const std::function<std::unique_ptr<T>()>& make) {
        void* existing = find(typeid(T));
        if (existing != nullptr) {
            return *static_cast<T*>(existing);
        }
        beginCreation(typeid(T));
        std::unique_ptr<T> created = make();
        T& ref = *created;
        adopt(typeid(T), created.release(), [](void* p) { delete static_cast<T*>(p); });
        return ref;
    }

    // Whether an instance of T exists now (without creating one).
    template <class T>
    static T* existing() {
        return static_cast<T*>(find(typeid(T)));
    }

    // Destroys every instance, newest first. Instances created while the reset runs are
    // destroyed too.
    static void reset();

    static std::size_t count();

  private:
    static void* find(std::type_index type);
    static void beginCreation(std::type_index type);
    static void adopt(std::type_index type, void* instance, void (*destroy)(void*));
};

// shared() of a small singleton with no neighbours: its private constructor stays reachable.
#define ORVEL_SHARED_INSTANCE(Type) \
    ::orvel::Registry::instance<Type>([] { return std::unique_ptr<Type>(new Type()); })

}  // namespace orvel
