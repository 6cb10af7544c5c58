#include "reports/ConflictNotes.h"

#include <algorithm>

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "drives/DriveKeepAlive.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

namespace conflicts {

bool upsSymmetric(const Preferences& prefs) {
    return prefs.upsReact() && !prefs.upsInverted();
}

bool recoveryWithoutEnd(const Preferences& prefs, const TriggerEngine& engine) {
    const auto& rules = engine.rules();
    const bool anyFloor = std::any_of(rules.begin(), rules.end(), [](const TriggerRule& rule) {
        return rule.enabled && rule.btBattEnd.has_value();
    });
    return prefs.battRecover() && !prefs.lowBattEnd() && !prefs.deactivateOnBattery() && !anyFloor;
}

std::vector<std::string> hotkeyKeyboardMessages(const Preferences& prefs, bool onKeyboardSide) {
    if (prefs.hotKeyStyle() == HotKeyStyle::off || !prefs.blockBuiltInKeyboard()) {
        return {};
    }
    if (onKeyboardSide) {
        return {
            "Conflicts with \u201cGlobal shortcut\u201d (General): while Orvel is on, the "
            "built-in keyboard is blocked, so the shortcut only works from an external "
            "keyboard."};
    }
    return {
        "Conflicts with \u201cDisable the built-in keyboard\u201d (Devices): while Orvel is "
        "on, this shortcut won't respond from the built-in keyboard \u2014 use an external "
        "keyboard or the menu."};
}

std::vector<std::string> diskSleepMessages(const DriveKeepAlive& keeper,
                                           const OrvelController& controller) {
    if (!controller.options().preventDiskSleep || !keeper.anyDriveEnabled()) {
        return {};
    }
    return {
        "Conflicts with \u201cPrevent Disk Sleep (\u2212m)\u201d in the menu: the global flag "
        "keeps every disk spun up, defeating per-drive isolation. Turn \u2212m off to keep "
        "only the drives selected here orvel."};
}

std::vector<std::string> btRuleMessages(const TriggerEngine& engine, const TriggerRule& rule) {
    std::vector<std::string> messages;
    if (!rule.btBattEnd) {
        return messages;
    }
    if (rule.onClear == TriggerAction::startSession) {
        messages.emplace_back(
            "Conflicts with \u201cOn disconnect \u2192 Start session\u201d on this rule: a device "
            "dying below its floor ends the session, then restarts it the moment it drops "
            "offline.");
    }
    if (!engine.masterEnabled()) {
        messages.emplace_back(
            "Conflicts with \u201cEnable triggers\u201d (Triggers sub-tab): triggers are switched "
            "off, so this battery floor won't fire until they're back on.");
    }
    return messages;
}

std::vector<std::string> powerMessages(const Preferences& prefs, const TriggerEngine& engine,
                                       PowerConflictSide side) {
    const bool symmetric = upsSymmetric(prefs);
    const std::string floor = std::to_string(prefs.lowBattPct());
    std::vector<std::string> messages;
    switch (side) {
        case PowerConflictSide::lowBatt:
            if (prefs.lowBattEnd() && symmetric) {
                messages.push_back(
                    "Conflicts with \u201cReact when a UPS becomes the power source\u201d "
                    "(Symmetric): this floor wins \u2014 below " +
                    floor +
                    "% the session ends and the UPS may not restart it until the battery "
                    "recovers.");
            }
            break;
        case PowerConflictSide::recover:
            if (recoveryWithoutEnd(prefs, engine)) {
                messages.emplace_back(
                    "Nothing ends sessions on battery \u2014 enable \u201cEnd session when battery "
                    "drops below\u201d, \u201cDisable Orvel while on battery\u201d, or a device "
                    "battery floor for this to have any effect.");
            }
            break;
        case PowerConflictSide::onBattery:
            if (prefs.deactivateOnBattery() && symmetric) {
                messages.emplace_back(
                    "Overlaps \u201cReact when a UPS becomes the power source\u201d (Symmetric): a "
                    "UPS carrying the computer counts as external power, so this switch does not "
                    "fire "
                    "while on UPS.");
            }
            break;
        case PowerConflictSide::ups:
            if (symmetric && prefs.lowBattEnd()) {
                messages.push_back(
                    "Conflicts with \u201cEnd session when battery drops below " + floor +
                    "%\u201d: the battery floor wins \u2014 Symmetric may not start or hold a "
                    "session while the floor is tripped; it resumes after recovery.");
            }
            if (symmetric && prefs.lpmEnd()) {
                messages.emplace_back(
                    "Conflicts with \u201cEnd session when Power Saver turns on\u201d: "
                    "Symmetric UPS sessions are blocked while Power Saver is on and start once "
                    "it turns off.");
            }
            break;
        case PowerConflictSide::lpm:
            if (prefs.lpmEnd() && symmetric) {
                messages.emplace_back(
                    "Conflicts with \u201cReact when a UPS becomes the power source\u201d "
                    "(Symmetric): Power Saver blocks UPS-started sessions until it turns off.");
            }
            break;
    }
    return messages;
}

}  // namespace conflicts

ui::View ConflictNote(const std::vector<std::string>& messages) {
    using namespace ui;
    if (messages.empty()) {
        return EmptyView();
    }
    std::vector<View> lines;
    lines.reserve(messages.size());
    for (const auto& message : messages) {
        lines.push_back(TextVerbatim(message)
                            .font(Font::style(TextStyle::caption))
                            .foregroundStyle(Color::named(NamedColor::yellow))
                            .fixedSize(false, true));
    }
    return VStack(HAlign::leading, 3, std::move(lines));
}

ui::View HotkeyKeyboardConflictNote::body() {
    return ConflictNote(conflicts::hotkeyKeyboardMessages(prefs_, onKeyboardSide_));
}

std::vector<ObservableObject*> HotkeyKeyboardConflictNote::observedObjects() {
    return {&prefs_};
}

ui::View DiskSleepConflictNote::body() {
    return ConflictNote(conflicts::diskSleepMessages(keeper_, controller_));
}

std::vector<ObservableObject*> DiskSleepConflictNote::observedObjects() {
    return {&keeper_, &controller_};
}

ui::View BTRuleConflictNote::body() {
    return ConflictNote(conflicts::btRuleMessages(engine_, rule_));
}

std::vector<ObservableObject*> BTRuleConflictNote::observedObjects() {
    return {&engine_};
}

ui::View PowerConflictNote::body() {
    return ConflictNote(conflicts::powerMessages(prefs_, engine_, side_));
}

std::vector<ObservableObject*> PowerConflictNote::observedObjects() {
    return {&prefs_, &engine_};
}

}  // namespace orvel
