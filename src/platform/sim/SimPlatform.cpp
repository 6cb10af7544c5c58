#include "platform/sim/SimPlatform.h"

#include <cstdio>
#include <cstdlib>

namespace orvel {

SimPlatform::SimPlatform()
    : powerAssertions_(std::make_unique<DiskSpinKeeper>(
          localDisks_, std::shared_ptr<UncachedReader>(std::shared_ptr<void>(), &uncachedReader_),
          kCacheFolder)) {
    // The simulated machine ships the compatibility engine's program and X11's display sleep.
    processes_.setExecutable("/usr/bin/caffeinate", true);
    processes_.setExecutable("/usr/bin/xset", true);
}

SimPlatform& SimPlatform::current() {
    auto* sim = dynamic_cast<SimPlatform*>(&Platform::current());
    if (sim == nullptr) {
        std::fputs("SimPlatform::current() used while another platform is installed\n", stderr);
        std::abort();
    }
    return *sim;
}

}  // namespace orvel
