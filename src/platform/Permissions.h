#pragma once

#include <optional>
#include <string>

#include "platform/Processes.h"

// The two permissions that silencing built-in input needs: watching input devices (Input
// Monitoring) and acting on their events (Accessibility). Threading: main thread only.

namespace orvel {

// The system's record of the Input Monitoring decision.
enum class ListenEventAccess { granted, denied, undecided };

class Permissions {
  public:
    virtual ~Permissions() = default;

    // Whether input events may be watched, as the cheap preflight check says.
    virtual bool preflightListenEvent() = 0;
    // The recorded decision; undecided while the system would still ask the user.
    virtual ListenEventAccess checkListenEventAccess() = 0;
    // Asks the system to show its own Input Monitoring prompt; the answer arrives later and
    // shows in the checks above.
    virtual void requestListenEventAccess() = 0;
    // Whether input events may be acted on.
    virtual bool isAccessibilityTrusted() = 0;
    // Whether input events may be acted on, showing the system's prompt first where it has one.
    virtual bool requestAccessibility() = 0;
    // Where the user grants a permission by hand; none where there is no such place.
    virtual std::optional<std::string> settingsURL(bool accessibility) = 0;
    // The command that takes back what Orvel installed to be granted these permissions (run by
    // the reset of all settings); none when nothing of Orvel's is installed.
    virtual std::optional<LaunchRequest> grantClearingCommand() = 0;
};

}  // namespace orvel
