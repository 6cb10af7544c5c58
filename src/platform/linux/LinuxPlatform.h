#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/linux/DBusConnection.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/LinuxAccessibilityDisplay.h"
#include "platform/linux/LinuxBluetooth.h"
#include "platform/linux/LinuxDisplays.h"
#include "platform/linux/LinuxHelperConnection.h"
#include "platform/linux/LinuxHelperService.h"
#include "platform/linux/LinuxInputAccess.h"
#include "platform/linux/LinuxInputBlocking.h"
#include "platform/linux/LinuxKeyboardBacklight.h"
#include "platform/linux/LinuxLocalDisks.h"
#include "platform/linux/LinuxNetwork.h"
#include "platform/linux/LinuxNetworkShares.h"
#include "platform/linux/LinuxNotifications.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/LinuxPowerAssertions.h"
#include "platform/linux/LinuxPowerSources.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxScreenLock.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "platform/linux/LinuxUncachedReader.h"
#include "platform/linux/LinuxVolumes.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/PortalDesktopSettings.h"
#include "platform/linux/X11HotKeys.h"
#include "platform/linux/XdgLoginItems.h"

namespace orvel {

// What the Linux platform is built on. A missing bus (null) leaves what needs it unavailable.
struct LinuxPlatformConfig {
    std::shared_ptr<DBusConnection> systemBus;
    std::shared_ptr<DBusConnection> sessionBus;
    std::unique_ptr<Paths> paths;  // null: LinuxPaths from the environment
    std::string root = "/";        // for /etc
    std::string sysRoot = "/sys";
    LinuxWorkspaceOptions workspace;
    std::string autostartFolder;  // empty: $XDG_CONFIG_HOME/autostart
    std::string program;          // what login starts; empty: the running executable
    std::vector<ProgramStandIn> standIns = LinuxProcesses::defaultStandIns();
    std::shared_ptr<LogSink> logSink;  // null: the journal when there is one, else stderr
    LinuxVolumesOptions volumes;  // also the device nodes and mounts of the disks kept spinning
    LinuxNetworkSharesOptions networkShares;
    LinuxNetworkOptions network;
    std::string sessionID;  // the login session to lock; empty: $XDG_SESSION_ID
    LinuxHelperServiceOptions helperService;
    std::string helperSocket = wake_protocol::kDefaultSocketPath;
    LinuxInputRoots input;
};

// The real machine: every capability through its Linux backend. Needs the main run loop, which
// drives both D-Bus connections. Where a service is missing (no logind, no session bus, no
// notification daemon) the backend that needs it reports it unavailable, logs one line, and
// everything else goes on.
class LinuxPlatform final : public Platform {
  public:
    explicit LinuxPlatform(LinuxPlatformConfig config);
    ~LinuxPlatform() override;

    // The platform of this session: the system and session buses, the XDG folders and the
    // journal (installed as the log sink at once, so start-up lines reach it).
    static std::unique_ptr<LinuxPlatform> make();

    // Runs the main loop (modally) until both buses have said which services run, for at most
    // `limitSeconds`; true when they have. Until then assertions answer kIOReturnNotReady.
    bool waitForServices(double limitSeconds);

    LinuxPowerAssertions& powerAssertions() override { return powerAssertions_; }
    LinuxProcesses& processes() override { return processes_; }
    FileUserDefaults& userDefaults() override { return defaults_; }
    LinuxSystemInfo& systemInfo() override { return systemInfo_; }
    LinuxWorkspace& workspace() override { return workspace_; }
    LinuxPowerSources& powerSources() override { return powerSources_; }
    LinuxNotifications& notifications() override { return notifications_; }
    XdgLoginItems& loginItems() override { return loginItems_; }
    PortalDesktopSettings& desktopSettings() override { return desktopSettings_; }
    Paths& paths() override { return *paths_; }
    LinuxAccessibilityDisplay& accessibilityDisplay() override { return accessibilityDisplay_; }
    LinuxBluetooth& bluetooth() override { return bluetooth_; }
    LinuxVolumes& volumes() override { return volumes_; }
    LinuxUncachedReader& uncachedReader() override { return uncachedReader_; }
    LinuxNetworkShares& networkShares() override { return networkShares_; }
    LinuxHidDevices& hidDevices() override { return hidDevices_; }
    LinuxPermissions& permissions() override { return permissions_; }
    LinuxNetwork& network() override { return network_; }
    LinuxScreenLock& screenLock() override { return screenLock_; }
    LinuxHelperService& helperService() override { return helperService_; }
    LinuxHelperConnection& helperConnection() override { return helperConnection_; }
    LinuxInputBlocking& inputBlocking() override { return inputBlocking_; }
    LinuxEventTap& eventTap() override { return eventTap_; }
    LinuxCursor& cursor() override { return cursor_; }
    HotKeys& hotKeys() override { return *hotKeys_; }
    LinuxDisplays& displays() override { return displays_; }
    LinuxDisplays& backlight() override { return displays_; }
    LinuxKeyboardBacklight& keyboardBacklightRoutes() override { return keyboardBacklight_; }
    std::shared_ptr<LogSink> logSink() override { return logSink_; }

  private:
    // Declared first, destroyed last: the backends hand their inhibitors back through them.
    std::shared_ptr<DBusConnection> systemBus_;
    std::shared_ptr<DBusConnection> sessionBus_;
    std::shared_ptr<LogSink> logSink_;
    std::unique_ptr<Paths> paths_;
    LinuxProcesses processes_;
    FileUserDefaults defaults_;
    LinuxSystemInfo systemInfo_;
    LinuxPowerAssertions powerAssertions_;
    LinuxPowerSources powerSources_;
    LinuxWorkspace workspace_;
    LinuxNotifications notifications_;
    XdgLoginItems loginItems_;
    LinuxAccessibilityDisplay accessibilityDisplay_;
    LinuxBluetooth bluetooth_;
    LinuxVolumes volumes_;
    LinuxUncachedReader uncachedReader_;
    LinuxNetworkShares networkShares_;
    LinuxHidDevices hidDevices_;
    LinuxPermissions permissions_;
    LinuxInputBlocking inputBlocking_;
    LinuxEventTap eventTap_;
    LinuxCursor cursor_;
    // The desktop portal's global shortcuts on Wayland, X11 key grabs elsewhere.
    std::unique_ptr<HotKeys> hotKeys_;
    PortalDesktopSettings desktopSettings_;
    LinuxNetwork network_;
    LinuxScreenLock screenLock_;
    LinuxHelperService helperService_;
    LinuxHelperConnection helperConnection_;
    LinuxDisplays displays_;
    LinuxKeyboardBacklight keyboardBacklight_;
};

}  // namespace orvel
