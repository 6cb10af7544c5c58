#pragma once

#include <any>
#include <functional>
#include <map>
#include <string>

#include "foundation/Signal.h"

namespace orvel {

// Process-wide notifications by name, each carrying one value of any type, for senders that
// must not know who listens (the application delegate opening a help page). Main thread only.
class NotificationCenter {
  public:
    static NotificationCenter& shared();

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Handlers of `name` run now, in the order they were added.
    void post(const std::string& name, const std::any& object = {});
    Subscription observe(const std::string& name, std::function<void(const std::any&)> handler);

  private:
    std::map<std::string, Signal<std::any>> signals_;
};

}  // namespace orvel
