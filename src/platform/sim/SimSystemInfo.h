#pragma once

#include "platform/SystemInfo.h"

namespace orvel {

// A simulated machine identity that tests set (or make unreadable).
class SimSystemInfo final : public SystemInfo {
  public:
    static constexpr const char* kDefaultUUID = "5D1C7A0E-2B43-4F8E-9A61-0C3F5E7B9D24";

    std::optional<std::string> platformUUID() override { return uuid_; }
    int osMajorVersion() override { return version_.major; }
    Version osVersion() override { return version_; }
    std::string osName() override { return osName_; }
    std::string kernelRelease() override { return kernelRelease_; }
    std::string processName() override { return processName_; }
    std::optional<std::string> hardwareModel() override { return model_; }
    std::optional<int> chassisType() override { return chassis_; }
    WindowSystem windowSystem() override { return windowSystem_; }
    std::string architecture() override { return architecture_; }
    std::string fullUserName() override { return fullUserName_; }
    std::string userName() override { return userName_; }
    std::string homeDirectory() override { return homeDirectory_; }
    std::optional<std::string> localizedHostName() override { return hostName_; }

    void setPlatformUUID(std::optional<std::string> uuid) { uuid_ = std::move(uuid); }
    void setOSMajorVersion(int major) { version_ = Version{major, 0, 0}; }
    void setOSVersion(Version version) { version_ = version; }
    void setOSName(std::string name) { osName_ = std::move(name); }
    void setKernelRelease(std::string release) { kernelRelease_ = std::move(release); }
    void setProcessName(std::string name) { processName_ = std::move(name); }
    void setHardwareModel(std::optional<std::string> model) { model_ = std::move(model); }
    void setChassisType(std::optional<int> type) { chassis_ = type; }
    void setWindowSystem(WindowSystem system) { windowSystem_ = system; }
    void setArchitecture(std::string architecture) { architecture_ = std::move(architecture); }
    void setFullUserName(std::string name) { fullUserName_ = std::move(name); }
    void setUserName(std::string name) { userName_ = std::move(name); }
    void setHomeDirectory(std::string path) { homeDirectory_ = std::move(path); }
    void setLocalizedHostName(std::optional<std::string> name) { hostName_ = std::move(name); }

  private:
    std::optional<std::string> uuid_ = std::string(kDefaultUUID);
    Version version_{12, 0, 0};
    std::string osName_ = "Debian GNU/Linux 12 (bookworm)";
    std::string kernelRelease_ = "6.1.0-18-amd64";
    std::string processName_ = "Orvel";
    std::optional<std::string> model_ = std::string("Sim Laptop");
    std::optional<int> chassis_ = 10;
    WindowSystem windowSystem_ = WindowSystem::x11;
    std::string architecture_ = "x86_64";
    std::string fullUserName_ = "Alex Example";
    std::string userName_ = "alex";
    std::string homeDirectory_ = "/home/alex";
    std::optional<std::string> hostName_ = std::string("Alex's Laptop");
};

}  // namespace orvel
