#include "foundation/Registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvel {
namespace {

std::vector<std::string>& journal() {
    static std::vector<std::string> entries;
    return entries;
}

class Store {
  public:
    static Store& shared() { return ORVEL_SHARED_INSTANCE(Store); }
    ~Store() { journal().push_back("~Store"); }

  private:
    Store() { journal().push_back("Store"); }
};

// Created first, but finishes after the store it asks for in its constructor.
class Controller {
  public:
    static Controller& shared() { return ORVEL_SHARED_INSTANCE(Controller); }
    ~Controller() { journal().push_back("~Controller"); }

  private:
    Controller() {
        Store::shared();
        journal().push_back("Controller");
    }
};

class Loop {
  public:
    static Loop& shared() { return ORVEL_SHARED_INSTANCE(Loop); }

  private:
    Loop() { Loop::shared(); }
};

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Registry::reset();
        journal().clear();
    }
    void TearDown() override { Registry::reset(); }
};

TEST_F(RegistryTest, CreatesOnFirstUseOnlyAndDestroysNewestFirst) {
    EXPECT_EQ(Registry::existing<Controller>(), nullptr);
    Controller& a = Controller::shared();
    Controller& b = Controller::shared();
    EXPECT_EQ(&a, &b);
    EXPECT_EQ(Registry::count(), 2u);
    Registry::reset();
    EXPECT_EQ(journal(),
              (std::vector<std::string>{"Store", "Controller", "~Controller", "~Store"}));
    EXPECT_EQ(Registry::existing<Store>(), nullptr);
}

TEST_F(RegistryTest, ResetGivesFreshInstances) {
    Store::shared();
    Registry::reset();
    Store::shared();
    EXPECT_EQ(journal(), (std::vector<std::string>{"Store", "~Store", "Store"}));
}

TEST(RegistryDeathTest, AskingForItselfDuringCreationAborts) {
    EXPECT_DEATH(Loop::shared(), "asked for itself");
}

}  // namespace
}  // namespace orvel
