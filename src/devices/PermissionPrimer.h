#pragma once

#include <functional>

#include "foundation/RunLoop.h"
#include "foundation/Signal.h"
#include "foundation/WeakRef.h"

namespace orvel {

class InputBlocker;
class Preferences;
class UserDefaults;

// The first-run explanation of the two permissions that blocking built-in input needs, and
// their requests: once ever, an alert says why; then each missing permission is asked for and
// checked once a second, 45 times each, and the switch that asked is applied (both granted) or
// turned back off. Main thread only.
class PermissionPrimer {
  public:
    static constexpr const char* kExplainedKey = "firstRunPermissionsExplained";
    static constexpr int kChecksPerPermission = 45;

    PermissionPrimer(UserDefaults& defaults, InputBlocker& blocker);

    // Explains (the first time) and requests for the switch whose `revert` turns it back off.
    // False when the user chose "Not Now". The preferences are held weakly: the polls end
    // quietly with them.
    bool explainIfNeeded(WeakRef<Preferences> prefs, std::function<void()> revert);

    // Sent before the explanation shows, so the menu-bar panel can close.
    Signal<> willExplain;
    // Sent when a request ends with both permissions granted, so the switch that asked applies.
    Signal<> granted;
    bool isPolling() const { return poll_.isValid(); }

  private:
    struct Request {
        WeakRef<Preferences> prefs;
        std::function<void()> revert;
    };
    void requestStage(Request request);
    void pollInputMonitoring(Request request, int attempt);
    void pollAccessibility(Request request, int attempt);
    void finish(const Request& request);

    UserDefaults& defaults_;
    InputBlocker& blocker_;
    Timer poll_;
};

}  // namespace orvel
