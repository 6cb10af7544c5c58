#pragma once

#include <vector>

#include "foundation/PropertyList.h"

namespace orvel {

class PowerSources;

// The internal batteries' descriptions, in the system's order.
std::vector<PropertyDictionary> internalBatteryDescriptions(PowerSources& sources);
// Whether the machine runs on wall power: the first internal battery that reports a state
// decides; a machine without one counts as on wall power.
bool isOnACPower(PowerSources& sources);

}  // namespace orvel
