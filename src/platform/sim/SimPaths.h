#pragma once

#include <string>
#include <utility>

#include "platform/Paths.h"

namespace orvel {

// Simulated folders, all under one root that the test fixture chooses (a temporary folder).
class SimPaths final : public Paths {
  public:
    explicit SimPaths(std::string root = "/tmp/orvel-sim") : root_(std::move(root)) {}

    std::string applicationSupportDirectory() override { return root_ + "/data/Orvel"; }
    std::string configDirectory() override { return root_ + "/config/orvel"; }
    std::string resourcesDirectory() override { return root_ + "/resources"; }
    std::string runtimeDirectory() override { return root_ + "/run/orvel"; }

    // Control surface for tests.
    void setRoot(std::string root) { root_ = std::move(root); }
    const std::string& root() const { return root_; }

  private:
    std::string root_;
};

}  // namespace orvel
