#include "app/ServiceWiring.h"

#include "devices/DeviceState.h"
#include "drives/DriveKeepAlive.h"
#include "triggers/AppTriggerSource.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

ServiceNeighbours serviceNeighbours() {
    ServiceNeighbours neighbours;
    // A session's end reaches the devices before the drives; its start reaches the drives first,
    // as soon as the engine holds (their sessionHolding), and the devices once it is in place.
    neighbours.participants = {
        []() -> SessionParticipant& { return DeviceState::shared(); },
        []() -> SessionParticipant& { return DriveKeepAlive::shared(); },
        []() -> SessionParticipant& { return TriggerEngine::shared(); },
        []() -> SessionParticipant& { return PowerTriggerCenter::shared(); },
    };
    neighbours.oneOffWatch = []() -> OneOffWatch& { return AppTriggerSource::shared(); };
    neighbours.powerSafety = []() -> PowerSafety& { return PowerTriggerCenter::shared(); };
    return neighbours;
}

}  // namespace orvel
