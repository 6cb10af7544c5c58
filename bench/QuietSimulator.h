#pragma once

#include <memory>

#include "foundation/VirtualRunLoop.h"
#include "platform/Platform.h"
#include "platform/sim/SimPlatform.h"

namespace orvel::bench {

struct Simulator {
    VirtualRunLoop& loop;
    SimPlatform& sim;
};

// Installs a virtual-time main loop and a simulated machine that records only errors, so that
// what is measured is the work, not the log.
inline Simulator installQuietSimulator() {
    auto ownedLoop = std::make_unique<VirtualRunLoop>();
    VirtualRunLoop& loop = *ownedLoop;
    RunLoop::install(std::move(ownedLoop));
    auto ownedSim = std::make_unique<SimPlatform>();
    SimPlatform& sim = *ownedSim;
    Platform::install(std::move(ownedSim));
    sim.log().setMinimumLevel(LogLevel::Error);
    return {loop, sim};
}

}  // namespace orvel::bench
