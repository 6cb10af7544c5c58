#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foundation/WeakRef.h"
#include "platform/HelperService.h"
#include "platform/Processes.h"

namespace orvel {

struct LinuxHelperServiceOptions {
    // Where the unit files are looked for (tests pass a fixture tree).
    std::string root = "/";
    std::string unit = "orvel-wake-helper.service";
    // What enables and disables the unit with the administrator's consent: this program and
    // arguments, then "enable"/"disable", "--now" and the unit.
    std::vector<std::string> elevate = {"/usr/bin/pkexec", "/usr/bin/systemctl"};
};

// The wake helper as a systemd unit: registered means enabled (and started), read from the unit
// files; enabling and disabling run systemctl through pkexec, so polkit asks the user for an
// administrator's password. A refusal for want of authorisation reads as "requires approval"
// until the next registration.
class LinuxHelperService final : public HelperService, public WeakReferenceable {
  public:
    explicit LinuxHelperService(Processes& processes, LinuxHelperServiceOptions options = {});

    int status() override;
    void registerService(Completion done) override;
    void unregisterService(Completion done) override;

  private:
    void run(const char* verb, Completion done);

    Processes& processes_;
    LinuxHelperServiceOptions options_;
    bool refused_ = false;
};

}  // namespace orvel
