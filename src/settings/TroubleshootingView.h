#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "ui/ViewComponent.h"

namespace orvel {

class OrvelController;

// What the diagnostics block asks of the diagnostics service: the texts it joins and the
// redaction it applies to the whole joined text.
struct DiagnosticsSources {
    // The self-test (it briefly changes and restores the hardware levels).
    std::function<std::string()> selfTest;
    // The PERMISSIONS, TRIGGERS and DRIVES sections of the permission audit.
    std::function<std::string()> auditSections;
    std::function<std::string()> report;
    std::function<std::string(const std::string&)> redact;
};

// "Apple silicon (arm64)" for any machine name beginning "arm" (and Linux's "aarch64"), else
// "Intel (x86_64)".
std::string architectureText(std::string_view machine);

// The Troubleshooting page: facts about this machine, the known limits, the diagnostics block
// and the reset block.
class TroubleshootingView final : public ui::ViewComponent {
  public:
    TroubleshootingView(OrvelController& controller, DiagnosticsSources sources,
                        std::function<std::string()> machine);

    // The last text produced by either button, after redaction; empty before the first press.
    Published<std::string> diagnosticText{*this, {}};
    // "Obfuscate names": read when a button is pressed.
    Published<bool> redactIdentifiers{*this, false};

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

    void runSelfTest();
    void copyReport();

  private:
    ui::View diagnosticsSection();
    void deliver(std::string text);

    OrvelController& controller_;
    DiagnosticsSources sources_;
    std::function<std::string()> machine_;
};

}  // namespace orvel
