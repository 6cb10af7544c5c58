#include "devices/HotKeyBackend.h"

#include <map>

namespace orvel {

namespace {

struct WeakBox {
    WeakRef<CarbonHotKey> value;
};

std::map<std::uint32_t, WeakBox>& registry() {
    static std::map<std::uint32_t, WeakBox> entries;
    return entries;
}

std::uint32_t nextId = 1;

}  // namespace

CarbonHotKey::CarbonHotKey(HotKeys& hotKeys, std::uint32_t keyCode, std::uint32_t modifiers,
                           std::function<void()> action)
    : action_(std::move(action)), id_(nextId++), keyCode_(keyCode), modifiers_(modifiers) {
    auto& entries = registry();
    std::erase_if(entries, [](const auto& entry) { return entry.second.value.get() == nullptr; });
    entries[id_] = WeakBox{weakRef(*this)};
    handler_ = hotKeys.installHandler([](std::uint32_t id) { handle(id); });
    ref_ = hotKeys.registerHotKey(keyCode, modifiers, id_);
}

CarbonHotKey::~CarbonHotKey() {
    ref_.reset();
    handler_.reset();
    registry().erase(id_);
}

std::size_t CarbonHotKey::registrySize() {
    return registry().size();
}

void CarbonHotKey::handle(std::uint32_t id) {
    auto it = registry().find(id);
    if (it == registry().end()) {
        return;
    }
    if (CarbonHotKey* hotKey = it->second.value.get(); hotKey != nullptr && hotKey->action_) {
        auto action = hotKey->action_;
        action();
    }
}

MonitorHotKey::MonitorHotKey(HotKeys& hotKeys, std::uint16_t keyCode, std::uint64_t modifierFlags,
                             std::function<void()> action) {
    auto matches = [keyCode, modifierFlags](const KeyPress& press) {
        return press.keyCode == keyCode && (press.modifierFlags & kFlagMask) == modifierFlags;
    };
    monitor_ = hotKeys.addGlobalMonitor([matches, action](const KeyPress& press) {
        if (matches(press)) {
            action();
        }
    });
    local_ = hotKeys.addLocalMonitor([matches, action](const KeyPress& press) {
        if (!matches(press)) {
            return false;
        }
        action();
        return true;
    });
}

}  // namespace orvel
