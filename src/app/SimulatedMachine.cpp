#include "app/SimulatedMachine.h"

namespace orvel {

SimulatedMachine::SimulationPaths::SimulationPaths() {
    LinuxPaths real;
    data_ = real.applicationSupportDirectory() + "/simulation";
    config_ = real.configDirectory() + "/simulation";
    resources_ = real.resourcesDirectory();
}

SimulatedMachine::SimulatedMachine()
    : defaults_(std::make_unique<FileUserDefaults>(paths_.configDirectory())),
      log_(std::make_shared<StderrLogSink>()) {}

}  // namespace orvel
