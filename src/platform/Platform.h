#pragma once

#include <memory>

#include "foundation/Log.h"

// The bundle of platform capabilities, installed once at start-up. Threading: install and
// uninstall on the main thread; each capability states its own contract.

namespace orvel {

class AccessibilityDisplay;
class Backlight;
class Bluetooth;
class Cursor;
class DesktopSettings;
class Displays;
class HelperConnection;
class HelperService;
class EventTap;
class HidDevices;
class HotKeys;
class InputBlocking;
class KeyboardBacklightRoutes;
class LoginItems;
class Network;
class NetworkShares;
class Notifications;
class Paths;
class Permissions;
class PowerAssertions;
class PowerSources;
class Processes;
class ScreenLock;
class SystemInfo;
class UncachedReader;
class UserDefaults;
class Volumes;
class Workspace;

class Platform {
  public:
    virtual ~Platform() = default;

    // The installed platform. Aborts with a message when none is installed.
    static Platform& current();
    static bool isInstalled();
    // Installs the platform (and its log sink) and returns the previous one.
    static std::unique_ptr<Platform> install(std::unique_ptr<Platform> platform);

    virtual PowerAssertions& powerAssertions() = 0;
    virtual Processes& processes() = 0;
    virtual UserDefaults& userDefaults() = 0;
    virtual SystemInfo& systemInfo() = 0;
    virtual Workspace& workspace() = 0;
    virtual PowerSources& powerSources() = 0;
    virtual Notifications& notifications() = 0;
    virtual LoginItems& loginItems() = 0;
    virtual DesktopSettings& desktopSettings() = 0;
    virtual Paths& paths() = 0;
    virtual AccessibilityDisplay& accessibilityDisplay() = 0;
    virtual Bluetooth& bluetooth() = 0;
    virtual Volumes& volumes() = 0;
    virtual UncachedReader& uncachedReader() = 0;
    virtual NetworkShares& networkShares() = 0;
    virtual HidDevices& hidDevices() = 0;
    virtual Permissions& permissions() = 0;
    virtual Network& network() = 0;
    virtual ScreenLock& screenLock() = 0;
    virtual HelperService& helperService() = 0;
    virtual HelperConnection& helperConnection() = 0;
    virtual InputBlocking& inputBlocking() = 0;
    virtual EventTap& eventTap() = 0;
    virtual Cursor& cursor() = 0;
    virtual HotKeys& hotKeys() = 0;
    virtual Displays& displays() = 0;
    virtual Backlight& backlight() = 0;
    virtual KeyboardBacklightRoutes& keyboardBacklightRoutes() = 0;
    virtual std::shared_ptr<LogSink> logSink() = 0;
};

}  // namespace orvel
