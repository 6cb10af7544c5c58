#include "platform/linux/LinuxPlatform.h"

#include <cstdlib>

#include "platform/linux/JournalLogSink.h"
#include "platform/linux/PortalHotKeys.h"

namespace orvel {

namespace {

std::shared_ptr<LogSink> defaultLogSink() {
    if (JournalLogSink::isAvailable()) {
        return std::make_shared<JournalLogSink>();
    }
    return std::make_shared<StderrLogSink>();
}

std::unique_ptr<Paths> pathsOrDefault(std::unique_ptr<Paths> paths) {
    return paths ? std::move(paths) : std::make_unique<LinuxPaths>();
}

std::string runningExecutable() {
    auto self = LinuxPaths::executablePath();
    if (!self) {
        Logger("platform")
            .error(self.error().message + "; the login item cannot name the program.");
        return {};
    }
    return std::move(*self);
}

std::shared_ptr<DBusConnection> openOrSay(DBusConnection::Bus bus, const char* loses) {
    auto connection = DBusConnection::open(bus);
    if (!connection) {
        Logger("platform").notice(connection.error().message + " " + loses);
        return nullptr;
    }
    return connection.value();
}

}  // namespace

LinuxPlatform::LinuxPlatform(LinuxPlatformConfig config)
    : systemBus_(std::move(config.systemBus)),
      sessionBus_(std::move(config.sessionBus)),
      logSink_(config.logSink ? std::move(config.logSink) : defaultLogSink()),
      paths_(pathsOrDefault(std::move(config.paths))),
      processes_(std::move(config.standIns)),
      defaults_(paths_->configDirectory()),
      systemInfo_(config.root),
      powerAssertions_(systemBus_, sessionBus_,
                       std::make_unique<DiskSpinKeeper>(
                           std::make_shared<LinuxLocalDisks>(LinuxLocalDisksOptions{
                               config.sysRoot, config.volumes.devRoot, config.volumes.mountInfo}),
                           std::make_shared<LinuxUncachedReader>(),
                           LinuxUncachedReader::ownFolder(xdg::processEnvironment()))),
      powerSources_(config.sysRoot, systemBus_),
      workspace_(systemBus_, processes_, std::move(config.workspace)),
      notifications_(sessionBus_),
      loginItems_(config.autostartFolder.empty()
                      ? XdgLoginItems::defaultAutostartFolder(xdg::processEnvironment())
                      : config.autostartFolder,
                  config.program.empty() ? runningExecutable() : config.program),
      accessibilityDisplay_(sessionBus_),
      bluetooth_(systemBus_, config.sysRoot),
      volumes_(std::move(config.volumes)),
      networkShares_(processes_, std::move(config.networkShares)),
      hidDevices_(std::move(config.input)),
      permissions_(hidDevices_, processes_, paths_->resourcesDirectory() + "/orvel-input-access",
                   paths_->resourcesDirectory() + "/input-access.html"),
      inputBlocking_(hidDevices_, paths_->runtimeDirectory()),
      desktopSettings_(sessionBus_, xdg::configHome(xdg::processEnvironment())),
      network_(systemBus_, std::move(config.network)),
      screenLock_(systemBus_, config.sessionID),
      helperService_(processes_, std::move(config.helperService)),
      helperConnection_(std::move(config.helperSocket)),
      displays_(config.sysRoot, systemBus_, config.sessionID, sessionBus_,
                xdg::processEnvironment()("SWAYSOCK").value_or(""),
                xdg::processEnvironment()("WAYLAND_DISPLAY").value_or("")),
      keyboardBacklight_(config.sysRoot, systemBus_, config.sessionID) {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0') {
        hotKeys_ = std::make_unique<PortalHotKeys>(sessionBus_);
    } else {
        hotKeys_ = std::make_unique<X11HotKeys>();
    }
    // A run that ended without stopping (a crash, SIGKILL) may have left devices switched off.
    inputBlocking_.releaseRecorded();
}

LinuxPlatform::~LinuxPlatform() = default;

std::unique_ptr<LinuxPlatform> LinuxPlatform::make() {
    LinuxPlatformConfig config;
    config.logSink = defaultLogSink();
    installLogSink(config.logSink);
    config.systemBus = openOrSay(DBusConnection::Bus::system,
                                 "Sleep prevention through logind, sleep and wake notices and "
                                 "Power Saver tracking are off.");
    config.sessionBus = openOrSay(DBusConnection::Bus::session,
                                  "Keeping the display awake and notifications are off.");
    return std::make_unique<LinuxPlatform>(std::move(config));
}

bool LinuxPlatform::waitForServices(double limitSeconds) {
    auto known = [this] {
        return (!systemBus_ || systemBus_->namesKnown()) &&
               (!sessionBus_ || sessionBus_->namesKnown()) && bluetooth_.isSettled();
    };
    if (known()) {
        return true;
    }
    bool timedOut = false;
    // Common mode: a modal loop holds default-mode timers back.
    Timer limit = RunLoop::main().after(
        limitSeconds, [&] { timedOut = true; }, TimerMode::Common);
    RunLoop::main().runModal([&] { return known() || timedOut; });
    return known();
}

}  // namespace orvel
