#pragma once

#include <string>
#include <vector>

#include "triggers/TriggerRule.h"
#include "ui/ViewComponent.h"

namespace orvel {

class DriveKeepAlive;
class OrvelController;
class Preferences;
class TriggerEngine;

// Which battery or power setting a power conflict note sits under.
enum class PowerConflictSide { lowBatt, recover, onBattery, ups, lpm };

// The messages of each note, in the order shown; empty when the settings do not conflict. Pure
// functions of the services' values; the texts are shown as they are, not translated.
namespace conflicts {

std::vector<std::string> hotkeyKeyboardMessages(const Preferences& prefs, bool onKeyboardSide);
std::vector<std::string> diskSleepMessages(const DriveKeepAlive& keeper,
                                           const OrvelController& controller);
std::vector<std::string> btRuleMessages(const TriggerEngine& engine, const TriggerRule& rule);
std::vector<std::string> powerMessages(const Preferences& prefs, const TriggerEngine& engine,
                                       PowerConflictSide side);

// The UPS reaction in its symmetric mode.
bool upsSymmetric(const Preferences& prefs);
// Battery recovery is on while nothing ends a session on battery.
bool recoveryWithoutEnd(const Preferences& prefs, const TriggerEngine& engine);

}  // namespace conflicts

// The yellow captions under a setting; nothing at all (no space taken) without messages.
ui::View ConflictNote(const std::vector<std::string>& messages);

// The global shortcut against the disabled built-in keyboard: under the keyboard switch
// (onKeyboardSide) or under the shortcut picker.
class HotkeyKeyboardConflictNote final : public ui::ViewComponent {
  public:
    HotkeyKeyboardConflictNote(Preferences& prefs, bool onKeyboardSide)
        : prefs_(prefs), onKeyboardSide_(onKeyboardSide) {}
    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

  private:
    Preferences& prefs_;
    bool onKeyboardSide_;
};

// The session's Prevent Disk Sleep against per-drive keep-alive.
class DiskSleepConflictNote final : public ui::ViewComponent {
  public:
    DiskSleepConflictNote(DriveKeepAlive& keeper, OrvelController& controller)
        : keeper_(keeper), controller_(controller) {}
    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

  private:
    DriveKeepAlive& keeper_;
    OrvelController& controller_;
};

// A Bluetooth rule's device battery floor against its own disconnect action and the master
// switch; works on the rule value the editor hands it.
class BTRuleConflictNote final : public ui::ViewComponent {
  public:
    BTRuleConflictNote(TriggerEngine& engine, TriggerRule rule)
        : engine_(engine), rule_(std::move(rule)) {}
    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

  private:
    TriggerEngine& engine_;
    TriggerRule rule_;
};

// The battery, UPS and Power Saver settings against each other, under the setting `side`.
class PowerConflictNote final : public ui::ViewComponent {
  public:
    PowerConflictNote(Preferences& prefs, TriggerEngine& engine, PowerConflictSide side)
        : prefs_(prefs), engine_(engine), side_(side) {}
    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

  private:
    Preferences& prefs_;
    TriggerEngine& engine_;
    PowerConflictSide side_;
};

}  // namespace orvel
