#pragma once

// The simulated machine the Help window's benches draw on: the Qt host under the offscreen
// platform, its run loop, the licences and help pages in the machine's resources (the pages read
// them), US English and the graph of services on it. Everything is torn down, and the folder
// removed, when it goes.

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/compose/Services.h"
#include "foundation/DateFormatting.h"
#include "foundation/Registry.h"
#include "platform/sim/SimPlatform.h"
#include "ui/qt/QtEnvironment.h"
#include "ui/qt/QtHost.h"
#include "ui/qt/QtRunLoop.h"

namespace orvel::bench {

class HelpBenchMachine {
  public:
    HelpBenchMachine(int& argc, char** argv, const std::string& name)
        : qt_(argc, argv, /*offscreen=*/true),
          root_("/tmp/orvel-" + name + "-" + std::to_string(::getpid())) {
        RunLoop::install(std::make_unique<ui::QtRunLoop>());
        auto owned = std::make_unique<SimPlatform>();
        sim_ = owned.get();
        Platform::install(std::move(owned));
        sim_->log().setMinimumLevel(LogLevel::Error);
        services_ = std::make_unique<Services>(Platform::current());
        services_->receiveActivityEntries();
        sim_->paths().setRoot(root_);
        std::filesystem::create_directories(sim_->paths().resourcesDirectory());
        std::filesystem::copy(ORVEL_LICENSES, sim_->paths().resourcesDirectory() + "/licenses");
        std::filesystem::copy(ORVEL_HELP_PAGES, sim_->paths().resourcesDirectory() + "/help");
        setCurrentLocaleIdentifier("en_US");
        auto host = std::make_unique<ui::QtHost>(ui::HostCapabilities::of(Platform::current()));
        host_ = host.get();
        ui::UiHost::install(std::move(host));
    }
    ~HelpBenchMachine() {
        ui::UiHost::install(nullptr);
        services_.reset();
        Registry::reset();
        Platform::install(nullptr);
        RunLoop::install(nullptr);
        std::filesystem::remove_all(root_);
    }
    HelpBenchMachine(const HelpBenchMachine&) = delete;
    HelpBenchMachine& operator=(const HelpBenchMachine&) = delete;

    SimPlatform& sim() { return *sim_; }
    ui::QtHost& host() { return *host_; }
    Services& services() { return *services_; }

  private:
    ui::QtEnvironment qt_;
    std::string root_;
    SimPlatform* sim_ = nullptr;
    ui::QtHost* host_ = nullptr;
    std::unique_ptr<Services> services_;
};

}  // namespace orvel::bench
