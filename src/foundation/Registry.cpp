#include "foundation/Registry.h"

#include "foundation/RunLoop.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

namespace orvel {
namespace {

struct Entry {
    std::type_index type;
    void* instance;
    void (*destroy)(void*);
};

struct State {
    std::vector<Entry> entries;  // creation order
    std::set<std::type_index> creating;
};

State& state() {
    static State s;
    return s;
}

}  // namespace

void* Registry::find(std::type_index type) {
    ORVEL_ASSERT_MAIN_THREAD("Registry shared-instance access");
    for (const auto& entry : state().entries) {
        if (entry.type == type) {
            return entry.instance;
        }
    }
    return nullptr;
}

void Registry::beginCreation(std::type_index type) {
    if (!state().creating.insert(type).second) {
        std::fprintf(stderr, "Registry: %s asked for itself while being created\n", type.name());
        std::abort();
    }
}

void Registry::adopt(std::type_index type, void* instance, void (*destroy)(void*)) {
    state().creating.erase(type);
    state().entries.push_back(Entry{type, instance, destroy});
}

struct Registry::Recipes {
    std::map<std::type_index, std::function<void*()>> byType;
};

// Filled by the composition root at start, maybe before any run loop exists, so not bound to
// the main thread.
Registry::Recipes& Registry::recipes() {
    static Recipes r;
    return r;
}

void Registry::setRecipe(std::type_index type, std::function<void*()> reach) {
    recipes().byType[type] = std::move(reach);
}

const std::function<void*()>& Registry::recipe(std::type_index type) {
    const auto found = recipes().byType.find(type);
    if (found == recipes().byType.end()) {
        std::fprintf(
            stderr,
            "Registry: nothing provides %s; the application names how each service is built\n",
            type.name());
        std::abort();
    }
    return found->second;
}

void Registry::reset() {
    ORVEL_ASSERT_MAIN_THREAD("Registry::reset");
    auto& entries = state().entries;
    while (!entries.empty()) {
        Entry last = entries.back();
        entries.pop_back();
        last.destroy(last.instance);
    }
    state().creating.clear();
}

std::size_t Registry::count() {
    return state().entries.size();
}

}  // namespace orvel
