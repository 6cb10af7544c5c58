#pragma once

#include "foundation/WeakRef.h"
#include "help/HelpSection.h"

namespace orvel {

// The application's window operations, as the panel and the Settings window reach them. The
// application delegate provides them (it stands above the panel, which may not call it by name) and
// makes itself current() while it runs; without one the panel's window rows do nothing.
class AppWindows : public WeakReferenceable {
  public:
    virtual ~AppWindows() = default;

    // The operations of the running application; nullptr while there are none.
    static AppWindows*& current();

    virtual void showHelp() = 0;
    // Shows Help at a page.
    virtual void showHelpSection(HelpSection section) = 0;
    virtual void openSettings() = 0;
    virtual void showAbout() = 0;
    virtual void showCustomDuration() = 0;
    virtual void makeRuleFromWatchedApp() = 0;
    virtual void chooseAppToWatch() = 0;

    // What the Settings window asks of the application after a change: the task bar entry shown or
    // hidden, the global shortcut registered again, start at login turned on or off.
    virtual void applyActivationPolicy() {}
    virtual void applyHotKeyStyle() {}
    virtual void setLaunchAtLogin(bool enabled) { (void)enabled; }

    // After a reset of all settings: the task bar setting and the global shortcut as the reloaded
    // defaults have them.
    virtual void applyResetDefaults() {}
};

}  // namespace orvel
