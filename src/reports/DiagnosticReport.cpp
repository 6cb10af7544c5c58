#include "reports/DiagnosticReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/BuiltInDisplay.h"
#include "devices/DeviceState.h"
#include "devices/InputBlocker.h"
#include "devices/KeyboardBacklight.h"
#include "foundation/AppInfo.h"
#include "foundation/Iso8601.h"
#include "foundation/Localization.h"
#include "foundation/RunLoop.h"
#include "foundation/TextCompare.h"
#include "platform/Permissions.h"
#include "platform/PowerAssertions.h"
#include "platform/Processes.h"
#include "platform/SystemInfo.h"
#include "reports/ReportRedaction.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "ui/Host.h"

namespace orvel {

namespace {

constexpr int kHeaderWidth = 52;

const char* truth(bool value) {
    return value ? "true" : "false";
}

const char* yesNo(bool value) {
    return value ? "yes" : "no";
}

std::size_t codePoints(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

void sortComposed(std::vector<std::string>& lines) {
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(lines.size());
    for (auto& line : lines) {
        keyed.emplace_back(composedText(line), std::move(line));
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    lines.clear();
    for (auto& [key, line] : keyed) {
        lines.push_back(std::move(line));
    }
}

}  // namespace

DiagnosticReport::DiagnosticReport(Neighbours neighbours) : n_(neighbours) {}

std::string DiagnosticReport::sectionHeader(std::string_view name) {
    std::string header = "\u2500\u2500 " + std::string(name) + " ";
    const auto length = static_cast<int>(codePoints(name));
    for (int i = length; i < kHeaderWidth; ++i) {
        header += "\u2500";
    }
    return header;
}

std::string DiagnosticReport::joined(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            text += '\n';
        }
        text += lines[i];
    }
    return text;
}

std::string DiagnosticReport::timestamp() {
    return iso8601Text(RunLoop::main().now());
}

std::string DiagnosticReport::levelText(double level) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", std::round(level * 100.0) / 100.0);
    return buffer;
}

std::string DiagnosticReport::diagnosticReport() {
    std::vector<std::string> lines{"ORVEL DIAGNOSTIC REPORT", timestamp()};
    appendSection(lines, "SYSTEM", systemLines());
    appendSection(lines, "PERMISSIONS", permissionLines());
    appendSection(lines, "CURRENT STATE", currentStateLines());
    appendSection(lines, "INPUT DEVICES", inputDevicesSection());
    appendSection(lines, "DISPLAY", displayLines());
    appendSection(lines, "KEYBOARD BACKLIGHT", backlightLines());
    lines.emplace_back();
    lines.push_back(n_.engine.diagnosticSection(false));
    appendSection(lines, "POWER ASSERTIONS", powerAssertionLines());
    return joined(lines);
}

std::vector<std::string> DiagnosticReport::systemLines() {
    std::vector<std::string> lines;
    lines.push_back("  system " + n_.system.osName() + " \u00B7 kernel " +
                    n_.system.kernelRelease());
    lines.push_back("  model " + hardwareModel());
    lines.push_back("  arch " + architecture());
    lines.push_back(std::string("  battery ") +
                    yesNo(!internalBatteryDescriptions(n_.powerSources).empty()) +
                    " \u00B7 on AC " + yesNo(isOnACPower(n_.powerSources)));
    if (const char* version = appVersion(); version != nullptr && *version != '\0') {
        lines.push_back(std::string("  Orvel ") + version);
    }
    return lines;
}

std::vector<std::string> DiagnosticReport::permissionLines() {
    Permissions& permissions = n_.permissions;
    const auto cached = n_.blocker.cachedPermissions();
    const bool inputMonitoring = cached && cached->inputMonitoring;
    const bool accessibility = cached && cached->accessibility;
    std::vector<std::string> lines;
    lines.push_back(std::string("  [") + (inputMonitoring ? "PASS" : "FAIL") +
                    "] Input device access");
    lines.push_back(std::string("    event nodes readable ") +
                    truth(permissions.preflightListenEvent()));
    const ListenEventAccess access = permissions.checkListenEventAccess();
    lines.push_back(std::string("    evdev access ") +
                    (access == ListenEventAccess::granted  ? "granted"
                     : access == ListenEventAccess::denied ? "denied"
                                                           : "unknown"));
    lines.push_back(std::string("  [") + (accessibility ? "PASS" : "FAIL") +
                    "] Input device control");
    lines.push_back(std::string("    event nodes switchable ") +
                    truth(permissions.isAccessibilityTrusted()));
    if (inputMonitoring && accessibility) {
        lines.push_back("  both granted \u2014 built-in keyboard and trackpad blocking available");
    } else {
        std::string missing;
        for (const auto& name : n_.blocker.missingPermissions()) {
            missing += (missing.empty() ? "" : ", ") + name;
        }
        lines.push_back("  MISSING \u2014 " + missing);
        lines.push_back("  everything else in Orvel works without these");
    }
    return lines;
}

std::vector<std::string> DiagnosticReport::currentStateLines() {
    const OrvelController& controller = n_.controller;
    const Preferences& prefs = n_.preferences;
    const InputBlocker& blocker = n_.blocker;
    std::vector<std::string> lines;
    lines.push_back(std::string("  active ") + truth(controller.isActive()) + " \u00B7 preset " +
                    std::string(rawValue(controller.preset())) + " \u00B7 engine " +
                    (controller.engineKind() == EngineKind::caffeinate ? "caffeinate" : "logind"));
    lines.push_back("  command " + controller.effectiveOptions().commandLine(
                                       n_.processes.resolve(kCaffeinatePath)));
    lines.push_back(std::string("  switches: kb ") + truth(prefs.blockBuiltInKeyboard()) +
                    " \u00B7 tp " + truth(prefs.blockBuiltInTrackpad()) + " \u00B7 backlight " +
                    truth(prefs.keyboardBacklightOff()) + " \u00B7 display " +
                    truth(prefs.builtInDisplayOff()) + " \u00B7 saver " +
                    truth(prefs.preventScreenSaver()));
    lines.push_back(std::string("  blocking now: kb ") + truth(blocker.isBlockingKeyboard()) +
                    " \u00B7 tp " + truth(blocker.isBlockingTrackpad()));
    return lines;
}

std::vector<std::string> DiagnosticReport::inputDevicesSection() {
    std::vector<std::string> lines = DeviceState::inputDeviceLines(
        DeviceState::filterInputDevices(n_.blocker.currentHIDDevices()));
    sortComposed(lines);
    for (auto& line : lines) {
        line.insert(0, "  ");
    }
    if (lines.empty()) {
        lines.emplace_back("  none found");
    }
    return lines;
}

std::vector<std::string> DiagnosticReport::displayLines() {
    const bool online = n_.display.builtInDisplayID().has_value();
    std::vector<std::string> lines;
    // A laptop has a panel even with the lid closed.
    lines.push_back(std::string("  has built-in panel: ") +
                    truth(DeviceState::isLaptop(n_.system) || online));
    lines.push_back(std::string("  panel online: ") + truth(online));
    const auto level = n_.display.level();
    lines.push_back("  built-in brightness: " + (level ? levelText(*level) : "unreadable"));
    if (!ui::UiHost::isInstalled()) {
        return lines;
    }
    for (const ui::ScreenInfo& screen : ui::UiHost::current().screens()) {
        lines.push_back("  screen " + std::to_string(static_cast<long long>(screen.frame.width)) +
                        "\u00D7" + std::to_string(static_cast<long long>(screen.frame.height)) +
                        " \u2014 " + screen.name);
    }
    return lines;
}

std::vector<std::string> DiagnosticReport::backlightLines() {
    KeyboardBacklight& backlight = n_.backlight;
    std::vector<std::string> lines{"  " + backlight.diagnostics()};
    if (const auto& failure = backlight.lastFailure()) {
        lines.push_back("  failure: " + *failure);
    }
    return lines;
}

std::vector<std::string> DiagnosticReport::powerAssertionLines() {
    PowerAssertions& assertions = n_.assertions;
    std::optional<std::map<std::string, std::int64_t>> status;
    runModalFor(kAssertionListingWait, [&] { return (status = assertions.status()).has_value(); });
    if (!status) {
        return {"  unreadable"};
    }
    std::vector<std::string> lines;
    for (const auto& [type, count] : *status) {
        if (count >= 1) {
            lines.push_back("  " + type);
        }
    }
    sortComposed(lines);
    if (lines.empty()) {
        lines.emplace_back("  none held");
    }
    return lines;
}

void DiagnosticReport::appendSection(std::vector<std::string>& lines, std::string_view name,
                                     std::vector<std::string> sectionLines) {
    lines.emplace_back();
    lines.push_back(sectionHeader(name));
    for (auto& line : sectionLines) {
        lines.push_back(std::move(line));
    }
}

std::string DiagnosticReport::hardwareModel() {
    auto model = n_.system.hardwareModel();
    return model && !model->empty() ? *model : "unknown";
}

std::string DiagnosticReport::architecture() {
    return n_.system.architecture();
}

std::string DiagnosticReport::conflictsSuffix() {
    return n_.conflicts ? "\n\n" + n_.conflicts() : std::string();
}

std::optional<std::string> DiagnosticReport::forSupport(bool appendConflicts, bool redact) {
    const EnglishTexts english;  // read by support
    static bool building = false;
    if (building) {
        return std::nullopt;
    }
    building = true;
    n_.blocker.permissionStatus();
    std::string text;
    {
        InputBlocker::HidAccessScope access(n_.blocker);
        text = diagnosticReport();
    }
    if (appendConflicts) {
        text += conflictsSuffix();
    }
    if (redact) {
        text = n_.redaction.obfuscate(text);
    }
    building = false;
    return text;
}

std::optional<std::string> DiagnosticReport::copyForSupport(bool appendConflicts, bool redact) {
    auto text = forSupport(appendConflicts, redact);
    if (text) {
        ui::UiHost::current().pasteboard().setString(*text);
    }
    return text;
}

}  // namespace orvel
