#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "menubar/StatusItemController.h"
#include "support/UiTest.h"

namespace orvel::test {

// A simulated machine with the headless host and a status item, for tests of the session
// controller. The controller is created on first use, as in the application.
class SessionTest : public UiTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    OrvelController& controller() { return services().controller(); }
    Preferences& prefs() { return services().preferences(); }
    StatusItemController& statusItem() { return *statusItem_; }
    // Ends the services as a process exit would and builds a fresh status item, which must not
    // outlive the controller it observes.
    void restartProcess();
    // The assertion types held now.
    std::vector<std::string> held() { return sim().powerAssertions().heldTypes(); }
    // Titles of the notifications posted so far.
    std::vector<std::string> notificationTitles();

  private:
    std::shared_ptr<StatusItemController> statusItem_;
};

}  // namespace orvel::test
