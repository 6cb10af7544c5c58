#include "app/SimulatedMachine.h"

namespace orvel {

namespace {

std::shared_ptr<DBusConnection> sessionBusOrNone() {
    auto bus = DBusConnection::open(DBusConnection::Bus::session);
    if (!bus) {
        Logger("platform").notice(bus.error().message + " The desktop's colour scheme is unknown.");
        return nullptr;
    }
    return bus.value();
}

}  // namespace

SimulatedMachine::SimulationPaths::SimulationPaths() {
    LinuxPaths real;
    data_ = real.applicationSupportDirectory() + "/simulation";
    config_ = real.configDirectory() + "/simulation";
    resources_ = real.resourcesDirectory();
    runtime_ = real.runtimeDirectory() + "/simulation";
}

SimulatedMachine::SimulatedMachine()
    : defaults_(std::make_unique<FileUserDefaults>(paths_.configDirectory())),
      log_(std::make_shared<StderrLogSink>()),
      desktopSettings_(sessionBusOrNone()) {}

}  // namespace orvel
