#pragma once

#include <optional>

#include "foundation/Date.h"
#include "foundation/Published.h"
#include "foundation/Signal.h"
#include "foundation/UUID.h"
#include "foundation/WeakRef.h"

namespace orvel {

// The trigger-rule evaluator.
//
// This is its first, least form: there are no rules yet, so it only keeps the pause state and
// hears about ended sessions. Callers already use the interface the full form keeps.
class TriggerEngine final : public ObservableObject, public WeakReferenceable {
  public:
    static TriggerEngine& shared();

    // Hands every source its rules and arms the pause timer. Called once by start-up.
    void start();

    // True while a pause deadline lies ahead (or the pause lasts until re-enabled).
    bool isPaused() const;

    // The session that `owner` (if any) started has ended, by hand or by its own course.
    void sessionEnded(std::optional<UUID> owner, bool manual);

    // Sent by sessionEnded, for observers that follow the trigger engine.
    Signal<std::optional<UUID>, bool> sessionEndReported;
    bool isStarted() const { return started_; }
    // Sent by start(), for observers that follow start-up.
    Signal<> started;

  private:
    TriggerEngine() = default;

    std::optional<Date> pausedUntil_;
    bool started_ = false;
};

}  // namespace orvel
