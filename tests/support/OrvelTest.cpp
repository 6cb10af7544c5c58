#include "support/OrvelTest.h"

#include "foundation/Registry.h"

#include <cstdlib>
#include <ctime>

namespace orvel::test {

void OrvelTest::SetUp() {
    // Times of day print the same everywhere.
    setenv("TZ", "UTC", 1);
    tzset();
    Registry::reset();
    auto loop = std::make_unique<VirtualRunLoop>();
    loop_ = loop.get();
    RunLoop::install(std::move(loop));
    auto sim = std::make_unique<SimPlatform>();
    sim_ = sim.get();
    Platform::install(std::move(sim));
}

void OrvelTest::TearDown() {
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
    sim_ = nullptr;
    loop_ = nullptr;
}

}  // namespace orvel::test
