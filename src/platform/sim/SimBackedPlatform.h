#pragma once

#include <memory>

#include "platform/Platform.h"
#include "platform/sim/SimPlatform.h"

namespace orvel {

// A machine that is simulated except where a subclass puts a real backend (or a folder of its
// own) in place: every capability it does not override is the simulator's. The simulator is a
// base, so it exists before, and outlives, whatever the subclass builds on it.
class SimBackedPlatform : public Platform {
  public:
    PowerAssertions& powerAssertions() override { return sim_.powerAssertions(); }
    Processes& processes() override { return sim_.processes(); }
    UserDefaults& userDefaults() override { return sim_.userDefaults(); }
    SystemInfo& systemInfo() override { return sim_.systemInfo(); }
    Workspace& workspace() override { return sim_.workspace(); }
    PowerSources& powerSources() override { return sim_.powerSources(); }
    Notifications& notifications() override { return sim_.notifications(); }
    LoginItems& loginItems() override { return sim_.loginItems(); }
    DesktopSettings& desktopSettings() override { return sim_.desktopSettings(); }
    Paths& paths() override { return sim_.paths(); }
    AccessibilityDisplay& accessibilityDisplay() override { return sim_.accessibilityDisplay(); }
    Bluetooth& bluetooth() override { return sim_.bluetooth(); }
    Volumes& volumes() override { return sim_.volumes(); }
    UncachedReader& uncachedReader() override { return sim_.uncachedReader(); }
    NetworkShares& networkShares() override { return sim_.networkShares(); }
    HidDevices& hidDevices() override { return sim_.hidDevices(); }
    Permissions& permissions() override { return sim_.permissions(); }
    Network& network() override { return sim_.network(); }
    ScreenLock& screenLock() override { return sim_.screenLock(); }
    HelperService& helperService() override { return sim_.helperService(); }
    HelperConnection& helperConnection() override { return sim_.helperConnection(); }
    InputBlocking& inputBlocking() override { return sim_.inputBlocking(); }
    EventTap& eventTap() override { return sim_.eventTap(); }
    Cursor& cursor() override { return sim_.cursor(); }
    HotKeys& hotKeys() override { return sim_.hotKeys(); }
    Displays& displays() override { return sim_.displays(); }
    Backlight& backlight() override { return sim_.backlight(); }
    KeyboardBacklightRoutes& keyboardBacklightRoutes() override {
        return sim_.keyboardBacklightRoutes();
    }
    std::shared_ptr<LogSink> logSink() override { return sim_.logSink(); }

  protected:
    SimPlatform sim_;
};

}  // namespace orvel
