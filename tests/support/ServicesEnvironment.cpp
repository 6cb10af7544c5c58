#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "core/ActivityLog.h"
#include "menubar/AlertAsker.h"
#include "support/MachineServices.h"

namespace {

// Test binaries over the services have them ask the user as the application does, and log
// entries added from any thread reach the running case's services.
class ServicesEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override {
        orvel::ActivityLog::setInstalled([]() -> orvel::ActivityLog& {
            auto* machine = orvel::test::MachineServices::ofThisCase();
            if (machine == nullptr) {
                std::fputs("test: a log entry came outside a test case\n", stderr);
                std::abort();
            }
            return machine->get().activityLog();
        });
        orvel::installAlertAsker();
    }
};

[[maybe_unused]] const ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new ServicesEnvironment);

}  // namespace
