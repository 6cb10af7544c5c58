#pragma once

#include <functional>
#include <memory>
#include <typeindex>
#include <utility>

namespace orvel {

// The process-wide home of shared service instances. Each instance is created on first use
// and lives until reset() (or the end of the process), which destroys instances in the reverse
// order of their creation, so a service outlives every service created after it.
// Main-thread only.
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

    // The composition root names where T is reached: reach() returns the instance, building it
    // (through instance(make)) and its neighbours when there is none. Providing again replaces
    // the recipe; an instance already built stays.
    template <class T>
    static void provide(T& (*reach)()) {
        setRecipe(typeid(T), [reach]() -> void* { return &reach(); });
    }

    // Returns the instance of T, reached through the recipe the composition root provided.
    // Aborts with a message when none was provided.
    template <class T>
    static T& instance() {
        void* existing = find(typeid(T));
        if (existing != nullptr) {
            return *static_cast<T*>(existing);
        }
        return *static_cast<T*>(recipe(typeid(T))());
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
    struct Recipes;
    static Recipes& recipes();
    static void setRecipe(std::type_index type, std::function<void*()> reach);
    // Aborts with a message when the type has no recipe.
    static const std::function<void*()>& recipe(std::type_index type);
    static void* find(std::type_index type);
    static void beginCreation(std::type_index type);
    static void adopt(std::type_index type, void* instance, void (*destroy)(void*));
};

// shared() of a small singleton with no neighbours: its private constructor stays reachable.
#define ORVEL_SHARED_INSTANCE(Type) \
    ::orvel::Registry::instance<Type>([] { return std::unique_ptr<Type>(new Type()); })

}  // namespace orvel
