#include "platform/sim/SimPowerAssertions.h"

#include <algorithm>

namespace orvel {

AssertionCreation SimPowerAssertions::createWithName(std::string_view type, std::uint32_t level,
                                                     std::string_view name) {
    std::optional<IOReturn> refusal = refuseAll_;
    for (auto& [countdown, code] : refusals_) {
        if (--countdown == 0) {
            refusal = code;
        }
    }
    std::erase_if(refusals_, [](const auto& r) { return r.first <= 0; });
    if (refusal) {
        return AssertionCreation{*refusal, 0};
    }
    const AssertionID id = nextID_++;
    Held created{id, std::string(type), level, std::string(name)};
    if (stoppedServices(type).empty()) {
        held_.push_back(std::move(created));
    } else {
        lost_.push_back(std::move(created));
    }
    history_.push_back(Event{EventKind::Created, std::string(type), id, std::string(name)});
    if (disks_ && type == assertion_type::kPreventDiskIdle) {
        diskHolds_.insert(id);
        disks_->hold();
    }
    return AssertionCreation{kIOReturnSuccess, id};
}

void SimPowerAssertions::releaseDisks(AssertionID id) {
    if (diskHolds_.erase(id) > 0) {
        disks_->release();
    }
}

IOReturn SimPowerAssertions::release(AssertionID id) {
    releaseDisks(id);
    auto it = std::find_if(held_.begin(), held_.end(), [&](const Held& h) { return h.id == id; });
    if (it == held_.end()) {
        const bool waiting = std::erase_if(lost_, [&](const Held& h) { return h.id == id; }) > 0;
        return waiting || std::erase(refused_, id) > 0 ? kIOReturnSuccess : kIOReturnNotFound;
    }
    held_.erase(it);
    history_.push_back(Event{EventKind::Released, {}, id, {}});
    return kIOReturnSuccess;
}

IOReturn SimPowerAssertions::declareUserActivity(std::string_view name, int, AssertionID& id) {
    if (id == 0) {
        id = nextID_++;
    }
    history_.push_back(Event{EventKind::DeclaredUserActivity, {}, id, std::string(name)});
    return kIOReturnSuccess;
}

std::optional<std::map<std::string, std::int64_t>> SimPowerAssertions::status() {
    if (statusUnreadable_) {
        return std::nullopt;
    }
    auto counts = ownStatus();
    for (const auto& [type, holders] : otherHolders_) {
        counts[type] += holders;
    }
    return counts;
}

std::map<std::string, std::int64_t> SimPowerAssertions::ownStatus() const {
    std::map<std::string, std::int64_t> counts;
    for (const auto& h : held_) {
        ++counts[h.type];
    }
    return counts;
}

std::vector<std::string> SimPowerAssertions::heldTypes() const {
    std::vector<std::string> types;
    for (const auto& h : held_) {
        types.push_back(h.type);
    }
    return types;
}

std::vector<SimPowerAssertions::Event> SimPowerAssertions::events(EventKind kind) const {
    std::vector<Event> out;
    std::copy_if(history_.begin(), history_.end(), std::back_inserter(out),
                 [&](const Event& e) { return e.kind == kind; });
    return out;
}

int SimPowerAssertions::userActivityDeclarations() const {
    return static_cast<int>(events(EventKind::DeclaredUserActivity).size());
}

bool SimPowerAssertions::refuseHeld(AssertionID id, IOReturn code) {
    auto it = std::find_if(held_.begin(), held_.end(), [&](const Held& h) { return h.id == id; });
    if (it == held_.end()) {
        return false;
    }
    history_.push_back(Event{EventKind::Refused, it->type, id, it->name, code});
    held_.erase(it);
    releaseDisks(id);
    refused_.push_back(id);
    assertionRefused.send(id, code);
    return true;
}

void SimPowerAssertions::refuseCreation(int nth, IOReturn code) {
    if (nth > 0) {
        refusals_.emplace_back(nth, code);
    }
}

void SimPowerAssertions::refuseAll(IOReturn code) {
    refuseAll_ = code;
}

void SimPowerAssertions::allowAll() {
    refuseAll_.reset();
    refusals_.clear();
}

std::vector<std::string> SimPowerAssertions::stoppedServices(std::string_view type) const {
    std::vector<std::string> names;
    for (const auto& [name, types] : stopped_) {
        if (std::find(types.begin(), types.end(), type) != types.end()) {
            names.push_back(name);
        }
    }
    return names;
}

SimPowerAssertions::SimPowerAssertions(std::unique_ptr<DiskSpinKeeper> disks)
    : disks_(std::move(disks)) {
    if (disks_) {
        disks_->setUnkeptHandler([this] { shortfallChanged.send(); });
    }
}

std::vector<std::string> SimPowerAssertions::unkeptDisks() const {
    return disks_ ? disks_->unkeptDisks() : std::vector<std::string>{};
}

std::optional<std::string> SimPowerAssertions::shortfall(std::string_view type) const {
    const auto it = shortfalls_.find(type);
    return it != shortfalls_.end() ? std::optional<std::string>(it->second) : std::nullopt;
}

void SimPowerAssertions::setShortfall(const std::string& type, std::optional<std::string> words) {
    if (words) {
        shortfalls_[type] = std::move(*words);
    } else {
        shortfalls_.erase(type);
    }
    shortfallChanged.send();
}

void SimPowerAssertions::stopService(std::string name, std::vector<std::string> types) {
    stopped_[std::move(name)] = std::move(types);
    auto gone = std::stable_partition(
        held_.begin(), held_.end(), [&](const Held& h) { return stoppedServices(h.type).empty(); });
    lost_.insert(lost_.end(), gone, held_.end());
    held_.erase(gone, held_.end());
    servicesChanged.send();
}

void SimPowerAssertions::startService(const std::string& name) {
    stopped_.erase(name);
    auto back = std::stable_partition(lost_.begin(), lost_.end(), [&](const Held& h) {
        return !stoppedServices(h.type).empty();
    });
    held_.insert(held_.end(), back, lost_.end());
    lost_.erase(back, lost_.end());
    std::sort(held_.begin(), held_.end(), [](const Held& a, const Held& b) { return a.id < b.id; });
    servicesChanged.send();
}

}  // namespace orvel
