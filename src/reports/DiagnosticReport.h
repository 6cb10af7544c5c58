#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvel {

class BuiltInDisplay;
class InputBlocker;
class KeyboardBacklight;
class OrvelController;
class Permissions;
class PowerAssertions;
class PowerSources;
class Processes;
class Preferences;
class ReportRedaction;
class SystemInfo;
class TriggerEngine;

// The diagnostic report: a plain-text snapshot of the machine and of Orvel's state for support,
// and the pieces the self-test shares with it (the section header, SYSTEM, the input device
// lines). It changes nothing: every value is read, and an unreadable one prints as a fixed word.
// Lines are joined by "\n" with none at the end. Main thread only.
class DiagnosticReport {
  public:
    // What the report reads, in the order it reads them.
    struct Neighbours {
        const OrvelController& controller;
        const Preferences& preferences;
        InputBlocker& blocker;
        Processes& processes;
        BuiltInDisplay& display;
        KeyboardBacklight& backlight;
        const TriggerEngine& engine;
        Permissions& permissions;
        PowerAssertions& assertions;
        PowerSources& powerSources;
        SystemInfo& system;
        const ReportRedaction& redaction;
        // The CONFLICTS section, built from the rules and settings the device layer cannot see,
        // only when a support text asks for it. Without one, nothing is appended.
        std::function<std::string()> conflicts = {};
    };

    explicit DiagnosticReport(Neighbours neighbours);
    DiagnosticReport(const DiagnosticReport&) = delete;
    DiagnosticReport& operator=(const DiagnosticReport&) = delete;

    // "── " + name + " " + "─" × max(0, 52 − code points).
    static std::string sectionHeader(std::string_view name);
    static std::string joined(const std::vector<std::string>& lines);
    // An empty line, the section's header, then its lines.
    static void appendSection(std::vector<std::string>& lines, std::string_view name,
                              std::vector<std::string> sectionLines);
    // The run loop's time as "2026-03-01T09:30:00Z".
    static std::string timestamp();
    // A level with two decimals, halves away from zero.
    static std::string levelText(double level);

    // The whole report.
    std::string diagnosticReport();
    std::vector<std::string> systemLines();
    std::vector<std::string> permissionLines();
    std::vector<std::string> currentStateLines();
    std::vector<std::string> displayLines();
    std::vector<std::string> backlightLines();
    // Waits up to 1.0 s (turning the loop modally) for a first reading of who holds what.
    std::vector<std::string> powerAssertionLines();
    // The INPUT DEVICES section's lines: the attached input devices, built-in ones first, sorted
    // by their composed text; "  none found" without any.
    std::vector<std::string> inputDevicesSection();
    // The machine's model as the system names it; "unknown" when it cannot be read.
    std::string hardwareModel();
    std::string architecture();

    // What the About window and the Troubleshooting tab copy: the permission status refreshed,
    // the report built with the HID-access flag raised (put back after), the CONFLICTS section
    // appended when asked, redacted when asked. Asked again while one is being built (the
    // report may wait modally), it answers nothing and copies nothing.
    std::optional<std::string> forSupport(bool appendConflicts, bool redact);
    // forSupport, then onto the pasteboard.
    std::optional<std::string> copyForSupport(bool appendConflicts, bool redact);

    // "\n\n" + the CONFLICTS section, or nothing without a builder.
    std::string conflictsSuffix();

    static constexpr double kAssertionListingWait = 1.0;

  private:
    Neighbours n_;
};

}  // namespace orvel
