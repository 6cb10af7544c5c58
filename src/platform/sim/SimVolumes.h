#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Volumes.h"

namespace orvel {

// Simulated mounts: tests script the volume list (and change it between scans), make the
// enumeration fail, and say which network paths are still there.
class SimVolumes final : public Volumes {
  public:
    Result<std::vector<VolumeInfo>> mountedVolumes() override;
    std::optional<std::string> mountSource(std::string_view path) override;
    bool networkPathExists(std::string_view path) override;

    // Control surface for tests. A listed volume's path exists and its source is its
    // mountSource; unmount() takes it off the list and its path away.
    void setVolumes(std::vector<VolumeInfo> volumes);
    void mount(VolumeInfo volume);
    void unmount(const std::string& path);
    void setEnumerationFails(bool fails);
    int enumerations() const;

  private:
    mutable std::mutex mutex_;
    std::vector<VolumeInfo> volumes_;
    bool fails_ = false;
    int enumerations_ = 0;
};

}  // namespace orvel
