#include "automations/BatteryPowerSettingsView.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "automations/DurationPicker.h"
#include "core/Preferences.h"
#include "foundation/DateFormatting.h"
#include "foundation/Localization.h"
#include "platform/PowerSources.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

using namespace ui;

namespace {

constexpr std::int64_t kFloorMin = 5, kFloorMax = 95;
constexpr std::int64_t kRecoveryMin = 6, kRecoveryMax = 100;

template <class T>
Binding<T> bind(Preferences::Setting<T>& setting) {
    return Binding<T>{[&setting] { return setting(); },
                      [&setting](const T& value) { setting = value; }};
}

Binding<double> stepperBinding(Preferences::Setting<std::int64_t>& setting) {
    return Binding<double>{[&setting] { return static_cast<double>(setting()); },
                           [&setting](const double& value) {
                               setting = static_cast<std::int64_t>(std::lround(value));
                           }};
}

View caption(std::string key) {
    return Text(std::move(key))
        .font(Font::style(TextStyle::caption))
        .foregroundStyle(Hierarchy::secondary);
}

}  // namespace

BatteryPowerSettingsView::BatteryPowerSettingsView(Preferences& prefs, PowerTriggerCenter& center,
                                                   TriggerEngine& engine,
                                                   PowerSources& powerSources)
    : prefs_(prefs), center_(center), engine_(engine), powerSources_(powerSources) {}

std::vector<ObservableObject*> BatteryPowerSettingsView::observedObjects() {
    return {&prefs_, &center_};
}

Binding<double> BatteryPowerSettingsView::levelBinding(bool floor) {
    Binding<double> stored = stepperBinding(floor ? prefs_.lowBattPct : prefs_.battRecoverPct);
    auto self = WeakRef(*this);
    return Binding<double>{stored.get, [self, set = stored.set](const double& value) {
                               if (auto* view = self.get()) {
                                   view->stepping_ = true;
                               }
                               set(value);
                               if (auto* view = self.get()) {
                                   view->stepping_ = false;
                                   if (auto push = std::exchange(view->pendingPush_, nullptr)) {
                                       push();
                                   }
                               }
                           }};
}

void BatteryPowerSettingsView::afterStepperStores(std::function<void()> push) {
    // A setting tells its subscribers before it stores the value: pushed at once, the other level
    // would reach the store ahead of the one the user moved.
    if (stepping_) {
        pendingPush_ = std::move(push);
    } else {
        push();
    }
}

void BatteryPowerSettingsView::floorChanged(std::int64_t floor) {
    if (floor < prefs_.battRecoverPct()) {
        return;
    }
    prefs_.battRecoverPct = std::min<std::int64_t>(floor + 1, kRecoveryMax);
}

void BatteryPowerSettingsView::recoveryChanged(std::int64_t recovery) {
    if (prefs_.lowBattPct() < recovery) {
        return;
    }
    prefs_.lowBattPct = std::max<std::int64_t>(recovery - 1, kFloorMin);
}

void BatteryPowerSettingsView::lowPowerModeChanged() {
    if (center_.simulationActive()) {
        center_.clearSimulation();
        return;
    }
    center_.setLowPowerMode(powerSources_.isLowPowerModeEnabled());
}

std::string BatteryPowerSettingsView::batteryOffCaption(std::int64_t value, bool hours) {
    const std::int64_t n = value >= 2 ? value : 1;
    const char* unit =
        hours ? (value >= 2 ? "hours" : "hour") : (value >= 2 ? "minutes" : "minute");
    return "Turns off " + std::to_string(n) + " " + unit + " after unplugging";
}

std::string BatteryPowerSettingsView::percentLabel(std::int64_t percent) {
    return percentText(static_cast<double>(percent) / 100.0);
}

std::int64_t BatteryPowerSettingsView::typedAmount(std::int64_t typed) {
    // 0 and below are kept as typed: the delay reads them as 1.
    return std::min(typed, kMaxBatteryOffAmount);
}

void BatteryPowerSettingsView::startHandlers() {
    handlers_.clear();
    auto self = WeakRef(*this);
    handlers_.push_back(prefs_.lpmEnd.subscribe([self](const bool&) {
        if (auto* view = self.get()) {
            view->lowPowerModeChanged();
        }
    }));
    handlers_.push_back(prefs_.lowBattPct.subscribe([self](const std::int64_t& floor) {
        if (auto* view = self.get()) {
            view->afterStepperStores([self, floor] {
                if (auto* later = self.get()) {
                    later->floorChanged(floor);
                }
            });
        }
    }));
    handlers_.push_back(prefs_.battRecoverPct.subscribe([self](const std::int64_t& recovery) {
        if (auto* view = self.get()) {
            view->afterStepperStores([self, recovery] {
                if (auto* later = self.get()) {
                    later->recoveryChanged(recovery);
                }
            });
        }
    }));
}

View BatteryPowerSettingsView::body() {
    auto self = WeakRef(*this);
    return Form({acSection(), batterySection(), upsSection(),
                 Section(
                     std::nullopt,
                     {caption("Safety triggers end ANY session \u2014 manual or automatic \u2014 "
                              "and sit outside the trigger priority order. Ends and automatic "
                              "re-enables both post a notification. Power monitoring reads "
                              "/sys/class/power_supply and UPower \u2014 no permissions, no "
                              "prompts.")})})
        .onAppear([self] {
            if (auto* view = self.get()) {
                view->startHandlers();
            }
        })
        .onDisappear([self] {
            if (auto* view = self.get()) {
                view->handlers_.clear();
            }
        });
}

View BatteryPowerSettingsView::acSection() {
    std::vector<View> rows{
        Toggle("Turn on Orvel automatically while charging", bind(prefs_.activateOnAC)),
        caption("Charging or full \u2014 a full battery on AC stays on; turns off when you "
                "unplug. A manual toggle wins until the power state next changes."),
    };
    if (prefs_.activateOnAC()) {
        rows.push_back(
            LabeledContent("Session duration",
                           Picker("Session duration", intTagBinding(bind(prefs_.acAutoSeconds)),
                                  DurationChoice::pickerRows())
                               .labelsHidden()
                               .frame(150)));
        rows.push_back(caption("Applies to sessions this switch starts."));
    }
    return Section(Text("AC power"), std::move(rows));
}

View BatteryPowerSettingsView::batterySection() {
    const bool noBattery = internalBatteryDescriptions(powerSources_).empty();
    std::vector<View> header{Text("On battery"), Spacer()};
    if (noBattery) {
        header.push_back(caption("Disabled \u2014 no internal battery detected"));
    }
    std::vector<View> rows{
        Toggle("Disable Orvel while on battery", bind(prefs_.deactivateOnBattery)),
        conflictNote(PowerConflictSide::onBattery),
    };
    if (prefs_.deactivateOnBattery()) {
        rows.push_back(
            Toggle("Only after this long on battery:", bind(prefs_.batteryOffAfterEnabled)));
        if (prefs_.batteryOffAfterEnabled()) {
            rows.push_back(delayRow());
        }
    }
    for (View row :
         {floorRow(), conflictNote(PowerConflictSide::lowBatt), recoveryRow(),
          caption("Resumes only sessions that battery rules ended \u2014 never starts fresh ones. "
                  "A manual off in between cancels the resume; with several device battery "
                  "rules, all must recover first."),
          conflictNote(PowerConflictSide::recover),
          Toggle("End session when Power Saver turns on", bind(prefs_.lpmEnd)),
          caption("Also blocks new sessions \u2014 the main toggle greys out while Power Saver "
                  "is on."),
          conflictNote(PowerConflictSide::lpm)}) {
        rows.push_back(std::move(row));
    }
    return Section(HStack(std::move(header)), std::move(rows)).disabled(noBattery);
}

View BatteryPowerSettingsView::delayRow() {
    Preferences::Setting<std::int64_t>& amount = prefs_.batteryOffValue;
    Binding<std::int64_t> typed{
        [&amount] { return amount(); },
        [&amount](const std::int64_t& value) { amount = typedAmount(value); }};
    return HStack(
        VAlign::center, 8,
        {
            IntegerField("Amount", typed).multilineTextAlignment(TextAlignment::trailing).frame(64),
            Stepper(Text("Amount"), stepperBinding(amount), 1,
                    static_cast<double>(kMaxBatteryOffAmount))
                .labelsHidden(),
            Picker("Unit", boolTagBinding(bind(prefs_.batteryOffUnitHours)),
                   {Text("minutes").tag("false"), Text("hours").tag("true")})
                .labelsHidden()
                .frame(110),
            Spacer(),
            TextVerbatim(batteryOffCaption(amount(), prefs_.batteryOffUnitHours()))
                .font(Font::style(TextStyle::caption))
                .foregroundStyle(Hierarchy::secondary),
        });
}

View BatteryPowerSettingsView::floorRow() {
    std::vector<View> row{
        Toggle("End session when battery drops below", bind(prefs_.lowBattEnd)),
        Stepper(TextVerbatim(percentLabel(prefs_.lowBattPct()))
                    .font(Font::style(TextStyle::body).withMonospacedDigits()),
                levelBinding(true), kFloorMin, kFloorMax)
            .disabled(!prefs_.lowBattEnd()),
    };
    if (const auto level = center_.macBatteryPercent()) {
        row.push_back(TextVerbatim(localizedFormat("now %@", {percentLabel(*level)}))
                          .font(Font::style(TextStyle::caption))
                          .foregroundStyle(Hierarchy::secondary));
    }
    return HStack(VAlign::center, 8, std::move(row));
}

View BatteryPowerSettingsView::recoveryRow() {
    return HStack(VAlign::center, 8,
                  {
                      Toggle("Re-enable when battery recovers above", bind(prefs_.battRecover)),
                      Stepper(TextVerbatim(percentLabel(prefs_.battRecoverPct()))
                                  .font(Font::style(TextStyle::body).withMonospacedDigits()),
                              levelBinding(false), kRecoveryMin, kRecoveryMax)
                          .disabled(!prefs_.battRecover()),
                  });
}

View BatteryPowerSettingsView::upsSection() {
    const bool present = center_.upsPresent();
    std::vector<View> reactRow{
        Toggle("React when a UPS becomes the power source", bind(prefs_.upsReact)), Spacer()};
    if (!present) {
        reactRow.push_back(caption("Disabled \u2014 no UPS attached"));
    }
    return Section(
               Text("UPS"),
               {
                   HStack(std::move(reactRow)),
                   Picker("Mode:", boolTagBinding(bind(prefs_.upsInverted)),
                          {Text("Symmetric \u2014 on while on UPS").tag("false"),
                           Text("Inverted \u2014 end sessions to shed load").tag("true")})
                       .pickerStyle(PickerStyle::radioGroup)
                       .disabled(!prefs_.upsReact()),
                   conflictNote(PowerConflictSide::ups),
                   caption(
                       "Symmetric starts an indefinite session while the UPS carries the "
                       "computer and ends it when wall power returns. Inverted ends any session "
                       "the moment the UPS takes over."),
               })
        .disabled(!present);
}

View BatteryPowerSettingsView::conflictNote(PowerConflictSide side) {
    return Embed(std::make_shared<PowerConflictNote>(prefs_, engine_, side));
}

}  // namespace orvel
