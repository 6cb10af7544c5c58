#include <gtest/gtest.h>

#include "menubar/AlertAsker.h"

namespace {

// Test binaries over the services have them ask the user as the application does.
class AlertAskerEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override { orvel::installAlertAsker(); }
};

[[maybe_unused]] const ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new AlertAskerEnvironment);

}  // namespace
