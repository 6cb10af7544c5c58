#include <gtest/gtest.h>

#include "app/compose/Services.h"
#include "menubar/AlertAsker.h"

namespace {

// Test binaries over the services build them from the application's recipes and have them ask
// the user as the application does. Registry::reset() between cases keeps the recipes.
class ServicesEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override {
        orvel::composeServices();
        orvel::installAlertAsker();
    }
};

[[maybe_unused]] const ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new ServicesEnvironment);

}  // namespace
