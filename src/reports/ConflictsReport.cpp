#include "reports/ConflictsReport.h"

#include <vector>

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Localization.h"
#include "reports/ConflictNotes.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

namespace {

void appendList(std::string& out, const std::string& heading,
                const std::vector<std::string>& lines) {
    out += "\n  " + heading + " (" + std::to_string(lines.size()) + "):";
    if (lines.empty()) {
        out += " none";
    }
    for (const auto& line : lines) {
        out += "\n    \u2022 " + line;
    }
}

}  // namespace

ConflictsReport::ConflictsReport(Neighbours neighbours) : n_(std::move(neighbours)) {}

std::vector<std::string> ConflictsReport::configuredConflicts() const {
    const Preferences& prefs = n_.preferences;
    const TriggerEngine& engine = n_.engine;
    const bool symmetric = conflicts::upsSymmetric(prefs);
    std::vector<std::string> lines;
    if (prefs.lowBattEnd() && symmetric) {
        lines.emplace_back("Low-battery floor \u21c4 UPS Symmetric (floor wins)");
    }
    if (prefs.deactivateOnBattery() && symmetric) {
        lines.emplace_back("On-battery switch \u21c4 UPS Symmetric (UPS counts as external power)");
    }
    if (prefs.lpmEnd() && symmetric) {
        lines.emplace_back("Power Saver \u21c4 UPS Symmetric (Power Saver blocks starts)");
    }
    if (conflicts::recoveryWithoutEnd(prefs, engine)) {
        lines.emplace_back("Battery recovery enabled with nothing that ends on battery");
    }
    for (const auto& rule : engine.rules()) {
        if (!rule.btBattEnd) {
            continue;
        }
        const std::string& label = rule.btName ? *rule.btName : rule.name;
        if (rule.onClear == TriggerAction::startSession) {
            lines.push_back(label + ": disconnect-starts \u21c4 its own battery floor");
        }
        if (!engine.masterEnabled()) {
            lines.push_back(label + ": battery floor set while triggers are off");
        }
    }
    if (prefs.hotKeyStyle() != HotKeyStyle::off && prefs.blockBuiltInKeyboard()) {
        lines.emplace_back("Global shortcut \u21c4 disabled built-in keyboard");
    }
    if (n_.controller.options().preventDiskSleep && n_.drives().anyDriveEnabled()) {
        lines.emplace_back("Per-drive keep-alive \u21c4 global \u2212m flag");
    }
    return lines;
}

std::string ConflictsReport::text() const {
    const EnglishTexts english;  // read by support
    std::string out = "\u2500\u2500 CONFLICTS ";
    for (int i = 0; i < 42; ++i) {
        out += "\u2500";
    }
    appendList(out, "configured", configuredConflicts());
    appendList(out, "active now", n_.power.reportLines());
    return out;
}

}  // namespace orvel
