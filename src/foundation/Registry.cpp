#include "foundation/Registry.h"

#include "foundation/RunLoop.h"

#include <cstdio>
#include <cstdlib>
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
