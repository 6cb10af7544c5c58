#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "settings/SettingsReset.h"
#include "ui/ViewComponent.h"

namespace orvel {

class OrvelController;

// What the diagnostics block asks of the diagnostics services: the texts it joins, the
// redaction it applies to the whole joined text and the machine's architecture name.
struct DiagnosticsSources {
    // The self-test (it briefly changes and restores the hardware levels); nothing while another
    // text is being built.
    std::function<std::optional<std::string>()> selfTest;
    // The permission audit's sections.
    std::function<std::string()> auditSections;
    // The diagnostic report; nothing while another one is being built.
    std::function<std::optional<std::string>()> report;
    std::function<std::string(const std::string&)> redact;
    std::function<std::string()> machine;
    std::function<std::string()> osVersion;
    // The settings' conflicts, joined after either text.
    std::function<std::string()> conflicts;
};

// The kernel's machine name as it is ("x86_64", "aarch64"); "Unknown" when there is none.
std::string architectureText(std::string_view machine);

// The Troubleshooting page: facts about this machine, the known limits, the diagnostics block
// and the reset block.
class TroubleshootingView final : public ui::ViewComponent {
  public:
    // `clearViewState` empties the hosting window's own state when a reset ends.
    TroubleshootingView(OrvelController& controller, DiagnosticsSources sources, ResetOwners reset,
                        std::function<void()> clearViewState = {});

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
    ResetOwners reset_;
    std::function<void()> clearViewState_;
    // A text build may turn the loop modally; a press meanwhile is dropped.
    bool building_ = false;
};

}  // namespace orvel
