#pragma once

#include "foundation/Published.h"

namespace orvel {

// Keeps chosen drives spun up while a session runs.
//
// This is its first, least form: it has no drives yet and only follows whether a session runs.
// Callers already use the interface the full form keeps.
class DriveKeepAlive final : public ObservableObject {
  public:
    static DriveKeepAlive& shared();

    // Whether a session runs; the session controller sets it at every start and stop.
    Published<bool> sessionActive{*this, false};

  private:
    DriveKeepAlive() = default;
};

}  // namespace orvel
