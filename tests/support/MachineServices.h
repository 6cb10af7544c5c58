#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/compose/Services.h"
#include "platform/Platform.h"

namespace orvel::test {

// The graph of the installed machine's services that a test case owns, built when first asked
// for. Only binaries over the services ask, so the graph is made and destroyed through a function
// kept with it, and binaries without the services link none of it.
class MachineServices {
  public:
    MachineServices() { ofThisCase() = this; }
    MachineServices(const MachineServices&) = delete;
    MachineServices& operator=(const MachineServices&) = delete;
    ~MachineServices() {
        graph_.reset();
        if (ofThisCase() == this) {
            ofThisCase() = nullptr;
        }
    }

    // The services of the case that runs now, which log entries added from any thread reach
    // (as the program's do, from its start), whether or not the case has asked for them yet.
    static MachineServices*& ofThisCase() {
        static MachineServices* current = nullptr;
        return current;
    }

    Services& get() {
        Platform& platform = Platform::current();
        if (graph_ && &graph_->platform() != &platform) {
            if (!released_) {
                std::fputs(
                    "test: a platform was installed under built services; release them "
                    "first\n",
                    stderr);
                std::abort();
            }
            graph_.reset();
        }
        released_ = false;
        if (!graph_) {
            graph_ = Graph(new Services(platform), [](Services* graph) { delete graph; });
        }
        return *graph_;
    }

    // The services newest first, then the small singletons, as the end of the process does.
    // The graph stays, for what was handed it: its services are built anew as they are asked for
    // (on a new graph if another platform was installed meanwhile).
    void release() {
        if (graph_) {
            graph_->release();
        }
        released_ = true;
        Registry::reset();
    }

  private:
    using Graph = std::unique_ptr<Services, void (*)(Services*)>;
    Graph graph_{nullptr, nullptr};
    bool released_ = true;
};

}  // namespace orvel::test
