#pragma once

namespace orvel {

// Has the services ask the user through the host's alerts. The application installs it at
// start-up, and test binaries over the services do the same.
void installAlertAsker();

}  // namespace orvel
