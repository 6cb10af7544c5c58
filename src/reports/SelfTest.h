#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvel {

class BuiltInDisplay;
class DiagnosticReport;
class InputBlocker;
class KeyboardBacklight;
class OrvelController;
class PermissionAudit;
class Permissions;
class PowerSources;
class Processes;
class ReportRedaction;
class SystemInfo;

// The hardware self-test: dims the keyboard backlight and the built-in display, reads the levels
// back, puts them back, and marks each step PASS or FAIL with the measured values; then lists
// the input blocking checks, the sleep engine, the input devices, the power sources and the
// system. A hold Orvel keeps (a display held dark, a backlight held off) is left as it is and
// its test is inconclusive; an unread level never passes. Main thread only; no waits between
// steps.
class SelfTest {
  public:
    // What the self-test reads and dims, in the order it does.
    struct Neighbours {
        KeyboardBacklight& backlight;
        BuiltInDisplay& display;
        Permissions& permissions;
        InputBlocker& blocker;
        const OrvelController& controller;
        Processes& processes;
        PowerSources& powerSources;
        SystemInfo& system;
        DiagnosticReport& report;
        PermissionAudit& audit;
        const ReportRedaction& redaction;
    };

    explicit SelfTest(Neighbours neighbours);
    SelfTest(const SelfTest&) = delete;
    SelfTest& operator=(const SelfTest&) = delete;

    // Levels on the 0…1 scale, compared as 32-bit floats, strictly.
    static constexpr float kBacklightAlreadyOff = 0.02f;
    static constexpr float kDark = 0.05f;
    static constexpr float kRestored = 0.1f;

    std::string selfTest();
    std::vector<std::string> backlightLines();
    std::vector<std::string> displayLines();
    std::vector<std::string> inputBlockingLines();
    std::vector<std::string> sleepEngineLines();
    // The POWER section.
    std::vector<std::string> powerLines();

    // What the Troubleshooting tab copies: the permission status refreshed, the self-test run
    // with the HID-access flag raised (put back after), the permission audit's sections and the
    // CONFLICTS section (once the app handed it over) appended, redacted when asked. Asked again
    // while one runs, it answers nothing and copies nothing.
    std::optional<std::string> forSupport(bool redact);
    std::optional<std::string> copyForSupport(bool redact);

  private:
    Neighbours n_;
};

}  // namespace orvel
