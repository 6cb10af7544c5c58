#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/Signal.h"
#include "foundation/WeakRef.h"
#include "reports/ConflictNotes.h"
#include "ui/ViewComponent.h"

namespace orvel {

class Preferences;
class PowerSources;
class PowerTriggerCenter;
class TriggerEngine;

// The Battery sub-tab: starting on AC, turning off on battery, the battery floor and its
// recovery level, Power Saver and the UPS reaction. Every control writes its setting at once;
// the view keeps nothing but the change handlers it holds while on screen. Main thread only.
class BatteryPowerSettingsView final : public ui::ViewComponent, public WeakReferenceable {
  public:
    // The field accepts more than the stepper; beyond this the delay would mean nothing.
    static constexpr std::int64_t kMaxBatteryOffAmount = 999;

    // `engine` and `powerSources` are read for the conflict notes and the Power Saver state.
    BatteryPowerSettingsView(Preferences& prefs, PowerTriggerCenter& center, TriggerEngine& engine,
                             PowerSources& powerSources);

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

    // Raising the floor to `floor` pushes the recovery level above it.
    void floorChanged(std::int64_t floor);
    // Lowering the recovery level to `recovery` pushes the floor below it.
    void recoveryChanged(std::int64_t recovery);
    // The switch takes effect at once, or ends a Troubleshooting simulation instead.
    void lowPowerModeChanged();

    // "Turns off 10 minutes after unplugging": the delay the stored amount gives.
    static std::string batteryOffCaption(std::int64_t value, bool hours);
    // A percentage the locale's way ("20%" in US English).
    static std::string percentLabel(std::int64_t percent);
    // What the amount field stores for a typed whole number.
    static std::int64_t typedAmount(std::int64_t typed);

  private:
    ui::View acSection();
    ui::View batterySection();
    ui::View delayRow();
    ui::View floorRow();
    ui::View recoveryRow();
    ui::View upsSection();
    ui::View conflictNote(PowerConflictSide side);
    void startHandlers();
    // The floor's stepper binding, or the recovery level's: the level it moves is stored before
    // the level that move pushes.
    ui::Binding<double> levelBinding(bool floor);
    // Runs `push` now, or once the stepper that is moving a level has stored it.
    void afterStepperStores(std::function<void()> push);

    Preferences& prefs_;
    PowerTriggerCenter& center_;
    TriggerEngine& engine_;
    PowerSources& powerSources_;
    SubscriptionBag handlers_;
    bool stepping_ = false;
    std::function<void()> pendingPush_;
};

}  // namespace orvel
