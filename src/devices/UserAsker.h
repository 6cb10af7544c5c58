#pragma once

#include <cstdint>
#include <memory>

namespace orvel {

// What the device services ask the user. The window layer installs how it is asked at start-up
// (`menubar/AlertAsker.h`); a service calls it and carries on from the answer, and never runs a
// modal loop itself. With no asker installed, or none that can ask now, the service takes the
// answer it takes when nobody can answer. Main thread only.
class UserAsker {
  public:
    virtual ~UserAsker() = default;

    // The installed asker when it can ask now (a window can show), else none.
    static UserAsker* ready();
    // Installs the way to ask for the whole process; none removes it.
    static void install(std::unique_ptr<UserAsker> asker);

    // Whether a question can be shown now.
    virtual bool canAsk() const = 0;
    // Keep the built-in input disabled? Counts down from `seconds` and answers no at zero; true
    // to keep it disabled.
    virtual bool keepInputDisabled(std::int64_t seconds) = 0;
    // Says that the built-in input was handed back because no external device was left.
    virtual void tellInputHandedBack() = 0;
    // Input device access was refused before: true when the user wants the place to grant it.
    virtual bool openInputMonitoringSettings() = 0;
    // Explains the two permissions that blocking built-in input needs: true to go on and ask.
    virtual bool explainPermissions() = 0;
};

}  // namespace orvel
