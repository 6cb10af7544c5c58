#include "foundation/Registry.h"

#include "foundation/RunLoop.h"

#include <cstdio>
#include <cstdlib>

namespace orvel {

void* InstanceStore::find(std::type_index type) const {
    ORVEL_ASSERT_MAIN_THREAD("shared-instance access");
    for (const auto& entry : entries_) {
        if (entry.type == type) {
            return entry.instance;
        }
    }
    return nullptr;
}

void InstanceStore::beginCreation(std::type_index type) {
    if (!creating_.insert(type).second) {
        std::fprintf(stderr, "Registry: %s asked for itself while being created\n", type.name());
        std::abort();
    }
}

void InstanceStore::adopt(std::type_index type, void* instance, void (*destroy)(void*)) {
    creating_.erase(type);
    entries_.push_back(Entry{type, instance, destroy});
}

void InstanceStore::reset() {
    ORVEL_ASSERT_MAIN_THREAD("shared-instance reset");
    while (!entries_.empty()) {
        Entry last = entries_.back();
        entries_.pop_back();
        last.destroy(last.instance);
    }
    creating_.clear();
}

InstanceStore& Registry::store() {
    // Never destroyed: what is left at exit goes with the process, after every static that
    // might still reach it.
    static auto* store = new InstanceStore;
    return *store;
}

}  // namespace orvel
