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
    // Answers at once as setListing() says (listed by default); a hanging listing keeps its
    // completion until releaseHungListings().
    void listDirectory(const std::string& path, std::function<void(bool listed)> done) override;

    // Control surface for tests. A listed volume's path exists and its source is its
    // mountSource; unmount() takes it off the list and its path away.
    void setVolumes(std::vector<VolumeInfo> volumes);
    void mount(VolumeInfo volume);
    void unmount(const std::string& path);
    void setEnumerationFails(bool fails);
    int enumerations() const;
    enum class Listing { listed, refused, hangs };
    void setListing(const std::string& path, Listing listing);
    // Lets every hanging listing finish now with `listed`.
    void releaseHungListings(bool listed);
    std::size_t hungListings() const;

  private:
    mutable std::mutex mutex_;
    std::vector<VolumeInfo> volumes_;
    bool fails_ = false;
    int enumerations_ = 0;
    std::map<std::string, Listing> listings_;
    std::vector<std::function<void(bool)>> hung_;
};

}  // namespace orvel
