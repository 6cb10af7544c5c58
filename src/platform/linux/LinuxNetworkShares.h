#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/NetworkShares.h"
#include "platform/Processes.h"

namespace orvel {

class SerialQueue;

struct LinuxNetworkSharesOptions {
    std::string mountProgram = "/usr/bin/mount";
    std::string gioProgram = "/usr/bin/gio";
    std::string fstab = "/etc/fstab";
    double timeoutSeconds = 60;
};

// Mounts an SMB share with `mount <mount point>` when the fstab has a user-mountable entry for
// it, else with `gio mount <url>`. The children read standard input from the null device, so a
// missing password fails instead of prompting. The fstab entry or gvfs decides the mount's
// options (cifs mounts are soft unless told otherwise). A child still running after the timeout
// is terminated and the request fails; so is one whose request is dropped, and its caller hears
// nothing. The fstab is read on a worker thread, never on the main one. Threading: main thread
// only.
class LinuxNetworkShares final : public NetworkShares {
  public:
    LinuxNetworkShares(Processes& processes, LinuxNetworkSharesOptions options = {});
    ~LinuxNetworkShares() override;

    std::unique_ptr<MountRequest> mountAsync(const std::string& url, const MountOptions& options,
                                             MountCallback callback) override;

    // The command that mounts `url`: the program and its arguments. Reads the fstab.
    static LaunchRequest commandFor(const LinuxNetworkSharesOptions& options,
                                    const std::string& url);
    LaunchRequest commandFor(const std::string& url) const { return commandFor(options_, url); }

    // One mount in progress.
    struct Request;

  private:
    Processes& processes_;
    LinuxNetworkSharesOptions options_;
    std::vector<std::shared_ptr<Request>> requests_;
    std::shared_ptr<SerialQueue> lookup_;
};

}  // namespace orvel
