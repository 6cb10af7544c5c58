#pragma once

#include "core/ServiceNeighbours.h"

namespace orvel {

// The services the session core tells and asks, in the order the controller tells its
// participants: the device state, the drive keep-alive, the trigger engine, the power centre.
// The controller is handed them as it is built.
ServiceNeighbours serviceNeighbours();

}  // namespace orvel
