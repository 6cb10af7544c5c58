#pragma once

#include <memory>

#include "platform/Platform.h"
#include "platform/UserDefaults.h"
#include "platform/sim/RecordingLogSink.h"
#include "platform/sim/SimAccessibilityDisplay.h"
#include "platform/sim/SimBluetooth.h"
#include "platform/sim/SimDesktopSettings.h"
#include "platform/sim/SimDisplays.h"
#include "platform/sim/SimHelperConnection.h"
#include "platform/sim/SimHelperService.h"
#include "platform/sim/SimHidDevices.h"
#include "platform/sim/SimHotKeys.h"
#include "platform/sim/SimInput.h"
#include "platform/sim/SimKeyboardBacklight.h"
#include "platform/sim/SimLocalDisks.h"
#include "platform/sim/SimLoginItems.h"
#include "platform/sim/SimNetwork.h"
#include "platform/sim/SimNetworkShares.h"
#include "platform/sim/SimNotifications.h"
#include "platform/sim/SimPaths.h"
#include "platform/sim/SimPermissions.h"
#include "platform/sim/SimPowerAssertions.h"
#include "platform/sim/SimPowerSources.h"
#include "platform/sim/SimProcesses.h"
#include "platform/sim/SimScreenLock.h"
#include "platform/sim/SimSystemInfo.h"
#include "platform/sim/SimUncachedReader.h"
#include "platform/sim/SimVolumes.h"
#include "platform/sim/SimWorkspace.h"

namespace orvel {

// The simulated machine: every capability in memory, driven by tests event by event. Its
// accessors return the control surfaces; production code sees only the interfaces.
class SimPlatform final : public Platform {
  public:
    SimPlatform();

    // The simulated user's cache folder of Orvel's, where the disk keep-alive keeps its file.
    static constexpr const char* kCacheFolder = "/home/sim/.cache/orvel";

    // The installed platform as the simulated machine; aborts when another is installed.
    static SimPlatform& current();

    SimPowerAssertions& powerAssertions() override { return powerAssertions_; }
    SimProcesses& processes() override { return processes_; }
    MemoryUserDefaults& userDefaults() override { return defaults_; }
    SimSystemInfo& systemInfo() override { return systemInfo_; }
    SimWorkspace& workspace() override { return workspace_; }
    SimPowerSources& powerSources() override { return powerSources_; }
    SimNotifications& notifications() override { return notifications_; }
    SimLoginItems& loginItems() override { return loginItems_; }
    SimDesktopSettings& desktopSettings() override { return desktopSettings_; }
    SimPaths& paths() override { return paths_; }
    SimAccessibilityDisplay& accessibilityDisplay() override { return accessibilityDisplay_; }
    SimBluetooth& bluetooth() override { return bluetooth_; }
    SimVolumes& volumes() override { return volumes_; }
    SimUncachedReader& uncachedReader() override { return uncachedReader_; }
    // The disks a PreventDiskIdle assertion keeps spinning, read through uncachedReader().
    SimLocalDisks& localDisks() { return *localDisks_; }
    SimNetworkShares& networkShares() override { return networkShares_; }
    SimHidDevices& hidDevices() override { return hidDevices_; }
    SimPermissions& permissions() override { return permissions_; }
    SimNetwork& network() override { return network_; }
    SimScreenLock& screenLock() override { return screenLock_; }
    SimHelperService& helperService() override { return helperService_; }
    SimHelperConnection& helperConnection() override { return helperConnection_; }
    SimInput& inputBlocking() override { return input_; }
    SimInput& eventTap() override { return input_; }
    SimInput& cursor() override { return input_; }
    // The three input capabilities' one control surface.
    SimInput& input() { return input_; }
    SimHotKeys& hotKeys() override { return hotKeys_; }
    SimDisplays& displays() override { return displays_; }
    SimDisplays& backlight() override { return displays_; }
    SimKeyboardBacklight& keyboardBacklightRoutes() override { return keyboardBacklight_; }
    std::shared_ptr<LogSink> logSink() override { return log_; }
    RecordingLogSink& log() { return *log_; }

  private:
    // Before the power assertions, whose disk keeper reads through them.
    std::shared_ptr<SimLocalDisks> localDisks_ = std::make_shared<SimLocalDisks>();
    SimUncachedReader uncachedReader_;
    SimPowerAssertions powerAssertions_;
    SimProcesses processes_;
    MemoryUserDefaults defaults_;
    SimSystemInfo systemInfo_;
    SimWorkspace workspace_;
    SimPowerSources powerSources_;
    SimNotifications notifications_;
    SimLoginItems loginItems_;
    SimDesktopSettings desktopSettings_;
    SimPaths paths_;
    SimAccessibilityDisplay accessibilityDisplay_;
    SimBluetooth bluetooth_;
    SimVolumes volumes_;
    SimNetworkShares networkShares_;
    SimHidDevices hidDevices_;
    SimPermissions permissions_;
    SimNetwork network_;
    SimScreenLock screenLock_;
    SimHelperService helperService_;
    SimHelperConnection helperConnection_;
    SimInput input_;
    SimHotKeys hotKeys_;
    SimDisplays displays_;
    SimKeyboardBacklight keyboardBacklight_;
    std::shared_ptr<RecordingLogSink> log_ = std::make_shared<RecordingLogSink>();
};

}  // namespace orvel
