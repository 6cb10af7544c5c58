#include "platform/sim/SimPowerSources.h"

#include <algorithm>

namespace orvel {

using namespace power_source;

namespace {

bool isType(const PropertyDictionary& source, const char* type) {
    const auto* value = propertyAs<std::string>(source, kType);
    return value != nullptr && *value == type;
}

}  // namespace

SimPowerSources::SimPowerSources() {
    snapshot_.sources.push_back(PropertyDictionary{
        {kType, kInternalBattery},
        {kName, "InternalBattery-0"},
        {kPowerSourceState, kACPower},
        {kCurrentCapacity, 80},
        {kMaxCapacity, 100},
        {kIsCharging, true},
    });
    snapshot_.providingPowerSourceType = kACPower;
}

std::optional<PowerSourcesSnapshot> SimPowerSources::snapshot() {
    if (unreadable_) {
        return std::nullopt;
    }
    return snapshot_;
}

void SimPowerSources::changed() {
    if (announces_) {
        powerStateDidChange.send();
    }
}

void SimPowerSources::setSources(PowerSourcesSnapshot snapshot) {
    snapshot_ = std::move(snapshot);
    changed();
}

void SimPowerSources::setUnreadable(bool unreadable) {
    unreadable_ = unreadable;
    changed();
}

void SimPowerSources::setOnAC(bool onAC) {
    for (auto& source : snapshot_.sources) {
        if (isType(source, kInternalBattery)) {
            source.insert_or_assign(kPowerSourceState, onAC ? kACPower : kBatteryPower);
            source.insert_or_assign(kIsCharging, onAC);
        }
    }
    if (snapshot_.providingPowerSourceType != kUPSPower) {
        snapshot_.providingPowerSourceType = onAC ? kACPower : kBatteryPower;
    }
    changed();
}

void SimPowerSources::setBatteryPercent(int percent) {
    for (auto& source : snapshot_.sources) {
        if (isType(source, kInternalBattery)) {
            source.insert_or_assign(kCurrentCapacity, percent);
            source.insert_or_assign(kMaxCapacity, 100);
        }
    }
    changed();
}

void SimPowerSources::removeBatteries() {
    std::erase_if(snapshot_.sources,
                  [](const PropertyDictionary& s) { return isType(s, kInternalBattery); });
    snapshot_.providingPowerSourceType = kACPower;
    changed();
}

void SimPowerSources::setUPS(bool present, bool powering) {
    std::erase_if(snapshot_.sources, [](const PropertyDictionary& s) { return isType(s, kUPS); });
    if (present) {
        snapshot_.sources.push_back(
            PropertyDictionary{{kType, kUPS},
                               {kName, "UPS"},
                               {kPowerSourceState, powering ? kBatteryPower : kACPower}});
    }
    if (present && powering) {
        snapshot_.providingPowerSourceType = kUPSPower;
    } else if (snapshot_.providingPowerSourceType == kUPSPower) {
        snapshot_.providingPowerSourceType = kACPower;
    }
    changed();
}

void SimPowerSources::setLowPowerMode(bool on) {
    lowPowerMode_ = on;
    powerStateDidChange.send();
}

}  // namespace orvel
