#include "reports/SelfTest.h"

#include <cmath>

#include "core/OrvelController.h"
#include "devices/BuiltInDisplay.h"
#include "devices/DeviceState.h"
#include "devices/InputBlocker.h"
#include "devices/KeyboardBacklight.h"
#include "foundation/Localization.h"
#include "platform/Permissions.h"
#include "platform/PowerSources.h"
#include "platform/Processes.h"
#include "reports/DiagnosticReport.h"
#include "reports/PermissionAudit.h"
#include "reports/ReportRedaction.h"
#include "triggers/PowerTriggerCenter.h"
#include "ui/Host.h"

namespace orvel {

namespace {

std::string verdict(bool pass, std::string_view text) {
    return std::string(pass ? "  [PASS] " : "  [FAIL] ") + std::string(text);
}

std::string levelOrUnreadable(const std::optional<double>& level) {
    return level ? DiagnosticReport::levelText(*level) : "unreadable";
}

bool below(const std::optional<double>& level, float limit) {
    return level && static_cast<float>(*level) < limit;
}

bool restored(const std::optional<double>& before, const std::optional<double>& after) {
    return before && after &&
           std::fabs(static_cast<float>(*after) - static_cast<float>(*before)) <
               SelfTest::kRestored;
}

std::string levelsLine(const std::optional<double>& before, const std::optional<double>& during,
                       const std::optional<double>& after) {
    return "  levels: before " + levelOrUnreadable(before) + " \u00B7 during " +
           levelOrUnreadable(during) + " \u00B7 after " + levelOrUnreadable(after);
}

}  // namespace

SelfTest::SelfTest(Neighbours neighbours) : n_(neighbours) {}

std::string SelfTest::selfTest() {
    const EnglishTexts english;  // read by support
    std::vector<std::string> lines{"ORVEL SELF-TEST", DiagnosticReport::timestamp()};
    DiagnosticReport::appendSection(lines, "BACKLIGHT", backlightLines());
    DiagnosticReport::appendSection(lines, "BUILT-IN DISPLAY", displayLines());
    DiagnosticReport::appendSection(lines, "INPUT BLOCKING", inputBlockingLines());
    DiagnosticReport::appendSection(lines, "SLEEP ENGINE", sleepEngineLines());
    DiagnosticReport::appendSection(lines, "INPUT DEVICES", n_.report.inputDevicesSection());
    DiagnosticReport::appendSection(lines, "POWER", powerLines());
    DiagnosticReport::appendSection(lines, "SYSTEM", n_.report.systemLines());
    return DiagnosticReport::joined(lines);
}

std::vector<std::string> SelfTest::backlightLines() {
    KeyboardBacklight& backlight = n_.backlight;
    if (backlight.isAvailable() == KeyboardBacklight::Availability::Unavailable) {
        return {"  SKIP \u2014 no controllable backlight on this computer"};
    }
    std::vector<std::string> lines;
    // A backlight Orvel holds off stays off: switching it on would undo the setting.
    const std::optional<double> before = backlight.isOff() ? std::nullopt : backlight.level();
    if (backlight.isOff() || !before || static_cast<float>(*before) < kBacklightAlreadyOff) {
        lines.push_back("  INCONCLUSIVE \u2014 backlight already off before the test");
        lines.push_back("  (lid closed, or the light is off). Raise it and re-run.");
    } else {
        backlight.setOff(true);
        const std::optional<double> during = backlight.level();
        backlight.setOff(false);
        const std::optional<double> after = backlight.level();
        lines.push_back(verdict(below(during, kDark), "dims to zero"));
        lines.push_back(verdict(restored(before, after), "restores"));
        lines.push_back(levelsLine(before, during, after));
    }
    lines.push_back("  route: " + backlight.route());
    return lines;
}

std::vector<std::string> SelfTest::displayLines() {
    if (!n_.display.builtInDisplayID()) {
        return {DeviceState::isLaptop(n_.system)
                    ? "  SKIP \u2014 internal panel offline (lid closed)"
                    : "  SKIP \u2014 no internal panel on this computer"};
    }
    BuiltInDisplay& display = n_.display;
    if (display.savedLevel()) {
        return {
            "  INCONCLUSIVE \u2014 held dark by Orvel's display setting; turn it off and re-run."};
    }
    const std::optional<double> before = display.level();
    display.setDark(true);
    const std::optional<double> during = display.level();
    display.setDark(false);
    const std::optional<double> after = display.level();
    return {verdict(below(during, kDark), "darkens"), verdict(restored(before, after), "restores"),
            levelsLine(before, during, after)};
}

std::vector<std::string> SelfTest::inputBlockingLines() {
    Permissions& permissions = n_.permissions;
    const auto cached = n_.blocker.cachedPermissions();
    const bool inputMonitoring = cached && cached->inputMonitoring;
    const bool accessibility = cached && cached->accessibility;
    std::vector<std::string> lines;
    lines.push_back(verdict(inputMonitoring, "Input device access granted"));
    const ListenEventAccess access = permissions.checkListenEventAccess();
    lines.push_back(std::string("  event nodes readable ") +
                    (permissions.preflightListenEvent() ? "true" : "false") +
                    " \u00B7 evdev access " +
                    (access == ListenEventAccess::granted  ? "granted"
                     : access == ListenEventAccess::denied ? "denied"
                                                           : "unknown"));
    lines.push_back(verdict(accessibility, "Input device control granted"));
    lines.push_back(std::string("  event nodes switchable ") +
                    (permissions.isAccessibilityTrusted() ? "true" : "false"));
    if (!(inputMonitoring && accessibility)) {
        std::string missing;
        for (const auto& name : n_.blocker.missingPermissions()) {
            missing += (missing.empty() ? "" : ", ") + name;
        }
        lines.push_back("  MISSING \u2014 " + missing);
        lines.push_back("  Enable (Settings \u203A Devices) installs Orvel's udev rule; pkexec");
        lines.push_back("  asks for an administrator's password. Membership of the input");
        lines.push_back("  group grants both too, once you log in again.");
    }
    const std::vector<std::string> internal = n_.blocker.internalDeviceNames();
    if (!DeviceState::isLaptop(n_.system) && !n_.display.builtInDisplayID() && internal.empty()) {
        lines.push_back("  SKIP \u2014 desktop computer: no built-in keyboard or trackpad exists,");
        lines.push_back("  so there is nothing to block. The switches are moot here.");
    } else {
        lines.push_back(verdict(!internal.empty(), "internal device found"));
        if (internal.empty()) {
            lines.push_back("  ROOT CAUSE \u2014 nothing classified as internal, so blocking");
            lines.push_back("  cannot engage. See INPUT DEVICES below for why.");
        } else {
            std::string names;
            for (const auto& name : internal) {
                names += (names.empty() ? "" : ", ") + name;
            }
            lines.push_back("  internal: " + names);
        }
    }
    const bool external =
        n_.blocker.externalKeyboardAttached() || n_.blocker.externalPointerAttached();
    lines.push_back(verdict(external, "external input present (required for safety)"));
    if (const auto& failure = n_.blocker.lastFailure) {
        lines.push_back("  last failure: " + *failure);
    }
    return lines;
}

std::vector<std::string> SelfTest::sleepEngineLines() {
    const OrvelController& controller = n_.controller;
    return {
        std::string("  configured: ") + (controller.engineKind() == EngineKind::caffeinate
                                             ? "caffeinate"
                                             : "logind inhibitor locks"),
        verdict(n_.processes.isExecutableFile(kCaffeinatePath), "caffeinate binary present"),
        std::string("  [ \u2014  ] session ") + (controller.isActive() ? "active" : "inactive") +
            " right now",
    };
}

std::vector<std::string> SelfTest::powerLines() {
    namespace ps = power_source;
    std::vector<std::string> lines;
    lines.push_back(
        verdict(!internalBatteryDescriptions(n_.powerSources).empty(), "internal battery present"));
    const auto snapshot = n_.powerSources.snapshot();
    const std::string onAC =
        std::string("  on AC ") + (isOnACPower(n_.powerSources) ? "yes" : "no") +
        " \u00B7 Power Saver " + (n_.powerSources.isLowPowerModeEnabled() ? "on" : "off");
    if (!snapshot) {
        lines.push_back("  power source info unreadable");
        lines.push_back(onAC);
        return lines;
    }
    bool upsSeen = false;
    for (const PropertyDictionary& source : snapshot->sources) {
        const auto* name = propertyAs<std::string>(source, ps::kName);
        const auto* type = propertyAs<std::string>(source, ps::kType);
        const auto* state = propertyAs<std::string>(source, ps::kPowerSourceState);
        const auto* current = propertyAs<std::int64_t>(source, ps::kCurrentCapacity);
        const auto* max = propertyAs<std::int64_t>(source, ps::kMaxCapacity);
        std::string level = "n/a";
        if (current && max && *max > 0) {
            const double percent =
                static_cast<double>(*current) / static_cast<double>(*max) * 100.0;
            level = std::to_string(std::llround(percent)) + "%";
        }
        const std::string typeText = type ? *type : "?";
        lines.push_back(std::string("  ") +
                        (typeText == ps::kInternalBattery ? "internal" : "external") + " \u2014 " +
                        (name ? *name : "unnamed") + " \u00B7 " + typeText + " \u00B7 " + level +
                        " \u00B7 " + (state ? *state : "?"));
        upsSeen = upsSeen || typeText == ps::kUPS;
    }
    std::string ups = std::string("  UPS attached ") + (upsSeen ? "yes" : "no");
    if (upsSeen) {
        ups += std::string(" \u00B7 providing power ") +
               (snapshot->providingPowerSourceType == ps::kUPSPower ? "yes" : "no");
    }
    lines.push_back(std::move(ups));
    lines.push_back(onAC);
    return lines;
}

std::optional<std::string> SelfTest::forSupport(bool redact) {
    const EnglishTexts english;  // read by support
    static bool running = false;
    if (running) {
        return std::nullopt;
    }
    running = true;
    n_.blocker.permissionStatus();
    std::string text;
    {
        InputBlocker::HidAccessScope access(n_.blocker);
        text = selfTest();
    }
    text += "\n\n" + n_.audit.reportSections() + n_.report.conflictsSuffix();
    if (redact) {
        text = n_.redaction.obfuscate(text);
    }
    running = false;
    return text;
}

std::optional<std::string> SelfTest::copyForSupport(bool redact) {
    auto text = forSupport(redact);
    if (text) {
        ui::UiHost::current().pasteboard().setString(*text);
    }
    return text;
}

}  // namespace orvel
