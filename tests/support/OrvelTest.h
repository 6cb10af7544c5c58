#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "foundation/VirtualRunLoop.h"
#include "platform/sim/SimPlatform.h"
#include "support/MachineServices.h"
#include "support/PropertyValuePrinter.h"

namespace orvel::test {

// Puts the program's help pages among the simulated machine's resources, as installed.
void installHelpPages(SimPaths& paths);
// Records that the user accepted the current agreement, so a launch opens no gate.
void acceptAgreement(SimPaths& paths);

// Every test case starts on a fresh simulated machine: a new virtual-time main loop, a new
// simulated platform and no shared instances. Teardown destroys the shared instances first, while
// the platform and the loop they use still exist.
class OrvelTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    VirtualRunLoop& loop() { return *loop_; }
    SimPlatform& sim() { return *sim_; }
    // The services of the installed machine (the simulated one unless a case installs its own),
    // built through the application's root as each is first asked for (binaries over the
    // services only).
    Services& services() { return machine_.get(); }
    // Destroys the services newest first, then the small singletons, as the end of the process
    // does; the next services() builds anew on the machine installed then.
    void releaseServices() { machine_.release(); }
    // Turns the loop without letting virtual time pass until `done`, or until 20 s of real time
    // have gone by (a real server's events awaited); returns done().
    bool drainUntil(const std::function<bool()>& done);
    // A fresh folder for this test case; the simulated machine's folders live under it.
    const std::string& scratch() const { return scratch_; }

  private:
    MachineServices machine_;
    std::string scratch_;
    VirtualRunLoop* loop_ = nullptr;
    SimPlatform* sim_ = nullptr;
};

}  // namespace orvel::test
