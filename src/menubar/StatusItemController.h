#pragma once

#include <cstdint>

#include "foundation/Signal.h"

namespace orvel {

// The menu-bar item. Everything that changes what it shows tells it through current().
//
// This is its first, least form: it records that it was told to refresh. The application shell
// gives it its looks and its panel; callers already use the interface the full form keeps.
class StatusItemController {
  public:
    StatusItemController();
    ~StatusItemController();
    StatusItemController(const StatusItemController&) = delete;
    StatusItemController& operator=(const StatusItemController&) = delete;

    // The status item that exists now, if any; callers do nothing without one.
    static StatusItemController* current();

    // Redraws the item from the current session and trigger state.
    void refresh();

    Signal<> refreshed;
    std::uint64_t refreshCount() const { return refreshCount_; }

  private:
    std::uint64_t refreshCount_ = 0;
};

}  // namespace orvel
