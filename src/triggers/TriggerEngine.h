#pragma once

#include <optional>
#include <vector>

#include "foundation/Date.h"
#include "foundation/Published.h"
#include "foundation/RunLoop.h"
#include "foundation/Signal.h"
#include "foundation/UUID.h"
#include "foundation/WeakRef.h"
#include "triggers/TriggerRule.h"

namespace orvel {

// The trigger-rule evaluator.
//
// This is its first, least form: the rule list is kept but never loaded, stored or handed to a
// source, and the pause is kept and stored but not read back at launch. It hears about ended
// sessions. Callers already use the interface the full form keeps.
class TriggerEngine final : public ObservableObject, public WeakReferenceable {
  public:
    static TriggerEngine& shared();

    // Every rule, in the user's order.
    Published<std::vector<TriggerRule>> rules{*this, {}};
    // The end of a pause; the distant future pauses until re-enabled; none: not paused.
    Published<std::optional<Date>> pausedUntil{*this, std::nullopt};

    // Hands every source its rules and arms the pause timer. Called once by start-up.
    void start();

    // True while a pause deadline lies ahead (or the pause lasts until re-enabled).
    bool isPaused() const;

    // Pauses the triggers for `seconds`, or until resume() when none are given.
    void pause(std::optional<double> seconds);
    // Ends a pause; only stops a stray timer when not paused.
    void resume();

    // The session that `owner` (if any) started has ended, by hand or by its own course.
    void sessionEnded(std::optional<UUID> owner, bool manual);

    // Sent by sessionEnded, for observers that follow the trigger engine.
    Signal<std::optional<UUID>, bool> sessionEndReported;
    bool isStarted() const { return started_; }
    // Sent by start(), for observers that follow start-up.
    Signal<> started;
    bool hasPauseTimer() const { return pauseTimer_.isValid(); }

  private:
    TriggerEngine() = default;
    void save();

    Timer pauseTimer_;
    bool started_ = false;
};

}  // namespace orvel
