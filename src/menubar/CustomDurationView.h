#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "foundation/Published.h"
#include "ui/ViewComponent.h"

namespace orvel {

class OrvelController;
class Preferences;

// The Custom Duration window's content: hours and minutes typed or stepped, the time such a
// session would end, and buttons to store the duration or store it and start at once. Nothing
// is stored before Set or Set and Start. Negative values count as 0 and the total saturates
// at the 64-bit limit, so nothing negative or overflowed is ever stored. Main thread only.
class CustomDurationView final : public ui::ViewComponent {
  public:
    // `onDone` runs after each of the three buttons.
    CustomDurationView(OrvelController& controller, Preferences& prefs, std::int64_t hours,
                       std::int64_t minutes, std::function<void()> onDone);

    // The starting hours and minutes for a stored duration; seconds below a minute are dropped.
    static std::pair<std::int64_t, std::int64_t> startValues(std::int64_t customSeconds);

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

    // Hours × 3600 + minutes × 60.
    std::int64_t total() const;
    // The time of day a session of total() seconds started now would end.
    std::string endTimeText() const;
    void cancel();
    void set();
    void setAndStart();

    Published<std::int64_t> hours;
    Published<std::int64_t> minutes;

  private:
    // `unit` is the caption under the field, `name` what a screen reader calls the field.
    ui::View column(Published<std::int64_t>& value, double maximum, const std::string& unit,
                    const std::string& name);

    OrvelController& c_;
    Preferences& prefs_;
    std::function<void()> onDone_;
};

}  // namespace orvel
