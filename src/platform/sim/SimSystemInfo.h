#pragma once

#include "platform/SystemInfo.h"

namespace orvel {

// A simulated machine identity that tests set (or make unreadable).
class SimSystemInfo final : public SystemInfo {
  public:
    static constexpr const char* kDefaultUUID = "5D1C7A0E-2B43-4F8E-9A61-0C3F5E7B9D24";

    std::optional<std::string> platformUUID() override { return uuid_; }
    int osMajorVersion() override { return major_; }

    void setPlatformUUID(std::optional<std::string> uuid) { uuid_ = std::move(uuid); }
    void setOSMajorVersion(int major) { major_ = major; }

  private:
    std::optional<std::string> uuid_ = std::string(kDefaultUUID);
    int major_ = 12;
};

}  // namespace orvel
