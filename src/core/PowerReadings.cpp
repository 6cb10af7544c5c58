#include "core/PowerReadings.h"

#include <string>

#include "platform/PowerSources.h"

namespace orvel {

using namespace power_source;

std::vector<PropertyDictionary> internalBatteryDescriptions(PowerSources& sources) {
    std::vector<PropertyDictionary> batteries;
    const auto snapshot = sources.snapshot();
    if (!snapshot) {
        return batteries;
    }
    for (const auto& source : snapshot->sources) {
        const auto* type = propertyAs<std::string>(source, kType);
        if (!source.empty() && type != nullptr && *type == kInternalBattery) {
            batteries.push_back(source);
        }
    }
    return batteries;
}

bool isOnACPower(PowerSources& sources) {
    for (const auto& battery : internalBatteryDescriptions(sources)) {
        if (const auto* state = propertyAs<std::string>(battery, kPowerSourceState)) {
            return *state == kACPower;
        }
    }
    return true;
}

}  // namespace orvel
