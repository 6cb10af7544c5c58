#pragma once

#include <string>
#include <vector>

#include "app/compose/Services.h"
#include "foundation/Signal.h"

namespace orvel::test {

// Records, in order, what the session controller tells its neighbours: the drive keep-alive,
// the device state, the status item, the trigger engine and the power centre.
class SessionJournal {
  public:
    explicit SessionJournal(Services& services);
    std::vector<std::string> take();

  private:
    std::vector<std::string> lines_;
    std::vector<Subscription> subscriptions_;
};

}  // namespace orvel::test
