#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/PortalDesktopSettings.h"
#include "platform/sim/SimPlatform.h"

namespace orvel {

// The machine `Orvel --simulate` runs on: every capability simulated (nothing on the real
// system is held or changed), but its settings and its agreement record are kept in folders of
// their own, so a simulation remembers its choices from run to run without touching the real
// application's. The desktop's colour scheme is read from the real desktop, which changes nothing.
class SimulatedMachine final : public Platform {
  public:
    SimulatedMachine();

    PowerAssertions& powerAssertions() override { return sim_.powerAssertions(); }
    Processes& processes() override { return sim_.processes(); }
    UserDefaults& userDefaults() override { return *defaults_; }
    SystemInfo& systemInfo() override { return sim_.systemInfo(); }
    Workspace& workspace() override { return sim_.workspace(); }
    PowerSources& powerSources() override { return sim_.powerSources(); }
    Notifications& notifications() override { return sim_.notifications(); }
    LoginItems& loginItems() override { return sim_.loginItems(); }
    DesktopSettings& desktopSettings() override { return desktopSettings_; }
    Paths& paths() override { return paths_; }
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
    std::shared_ptr<LogSink> logSink() override { return log_; }

  private:
    // Real folders, with "simulation" below the application's own.
    class SimulationPaths final : public Paths {
      public:
        SimulationPaths();
        std::string applicationSupportDirectory() override { return data_; }
        std::string configDirectory() override { return config_; }
        std::string resourcesDirectory() override { return resources_; }
        std::string runtimeDirectory() override { return runtime_; }

      private:
        std::string data_;
        std::string config_;
        std::string resources_;
        std::string runtime_;
    };

    SimPlatform sim_;
    SimulationPaths paths_;
    std::unique_ptr<FileUserDefaults> defaults_;
    std::shared_ptr<LogSink> log_;
    PortalDesktopSettings desktopSettings_;
};

}  // namespace orvel
