#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/PortalDesktopSettings.h"
#include "platform/sim/SimBackedPlatform.h"

namespace orvel {

// The machine `Orvel --simulate` runs on: every capability simulated (nothing on the real
// system is held or changed), but its settings and its agreement record are kept in folders of
// their own, so a simulation remembers its choices from run to run without touching the real
// application's. The desktop's colour scheme is read from the real desktop, which changes nothing.
class SimulatedMachine final : public SimBackedPlatform {
  public:
    SimulatedMachine();

    UserDefaults& userDefaults() override { return *defaults_; }
    DesktopSettings& desktopSettings() override { return desktopSettings_; }
    Paths& paths() override { return paths_; }
    std::shared_ptr<LogSink> logSink() override { return log_; }

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

  private:
    void installApplications();

    SimulationPaths paths_;
    std::unique_ptr<FileUserDefaults> defaults_;
    std::shared_ptr<LogSink> log_;
    PortalDesktopSettings desktopSettings_;
};

}  // namespace orvel
