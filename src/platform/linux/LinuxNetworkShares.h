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
    // How long a mounter told to end (SIGTERM) has before it is killed (SIGKILL).
    double graceSeconds = 2;
};

// Mounts an SMB share with `mount <mount point>` when the fstab has a user-mountable entry for
// it, else with `gio mount <url>`. The children read standard input from the null device, so a
// missing password fails instead of prompting. The fstab entry or gvfs decides the mount's
// options (cifs mounts are soft unless told otherwise). A child still running after the timeout
// is stopped and the request fails; so is one whose request is dropped, and its caller hears
// nothing. Stopping is SIGTERM, then SIGKILL after the grace for a child that ignores it; at
// destruction (Orvel quitting) the same, waited for, so that no mounter outlives Orvel. While a
// mounter of a share still runs, a request for that share starts no second one: it fails. The
// fstab is read on a worker thread, never on the main one. Threading: main thread only.
class LinuxNetworkShares final : public NetworkShares {
  public:
    LinuxNetworkShares(Processes& processes, LinuxNetworkSharesOptions options = {});
    ~LinuxNetworkShares() override;

    std::unique_ptr<MountRequest> mountAsync(const std::string& url, const MountOptions& options,
                                             MountCallback callback) override;
    // gio missing (libglib2.0-bin, which the package only recommends) leaves the fstab's user
    // entries alone.
    std::optional<std::string> unavailableReason() const override;

    // The command that mounts `url`: the program and its arguments. Reads the fstab.
    static LaunchRequest commandFor(const LinuxNetworkSharesOptions& options,
                                    const std::string& url);
    LaunchRequest commandFor(const std::string& url) const { return commandFor(options_, url); }

    // One mount in progress.
    struct Request;

  private:
    void launch(const std::shared_ptr<Request>& request, const LaunchRequest& command);

    Processes& processes_;
    LinuxNetworkSharesOptions options_;
    std::vector<std::shared_ptr<Request>> requests_;
    std::shared_ptr<SerialQueue> lookup_;
};

}  // namespace orvel
